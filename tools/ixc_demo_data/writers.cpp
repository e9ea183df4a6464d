#include "writers.h"

#include <charconv>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "provider.h"

namespace demo {
namespace {

// The column lists, shared by both forms so that they cannot drift apart. The receivable's two
// dates come last: TSV carries them as day offsets that load.sql turns into dates.
constexpr std::string_view kCityColumns = "id, nome, cod_ibge";
constexpr std::string_view kBranchColumns = "id, razao, fantasia, cnpj, cidade";
constexpr std::string_view kCustomerColumns =
    "id, razao, fantasia, tipo_pessoa, cnpj_cpf, email, telefone_celular, ativo, data_cadastro, "
    "endereco, numero, bairro, cep, cidade";
constexpr std::string_view kReceivableColumns =
    "id, id_cliente, id_contrato, filial_id, documento, status, valor, valor_aberto, "
    "valor_recebido";
constexpr std::string_view kReceivableDates = "data_emissao, data_vencimento";

// The ERP cannot store a zero date under NO_ZERO_DATE, which MySQL 8 sets by default.
constexpr std::string_view kSessionMode =
    "SET SESSION sql_mode = "
    "'STRICT_TRANS_TABLES,ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION';\n";

// A statement stays far below max_allowed_packet (16 MiB by default).
constexpr std::size_t kStatementBytes = 1 << 20;

std::string base_day(const std::string& today) {
  return today.empty() ? "CURRENT_DATE()" : "DATE '" + today + "'";
}

void append_number(std::string& out, long long value) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void append_cents(std::string& out, Cents cents) {
  append_number(out, cents / 100);
  out.push_back('.');
  out.push_back(static_cast<char>('0' + cents % 100 / 10));
  out.push_back(static_cast<char>('0' + cents % 10));
}

void append_civil(std::string& out, const CivilDate& date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
  out.append(text);
}

// One character of a text: inside SQL quotes, or in a TSV field for LOAD DATA.
void append_escaped(std::string& out, char c, bool sql) {
  if (sql) {
    out.append(c == '\'' ? "''" : c == '\\' ? "\\\\" : std::string_view(&c, 1));
    return;
  }
  switch (c) {
    case '\\':
      out.append("\\\\");
      break;
    case '\t':
      out.append("\\t");
      break;
    case '\n':
      out.append("\\n");
      break;
    case '\r':
      out.append("\\r");
      break;
    case '\0':
      out.append("\\0");
      break;
    default:
      out.push_back(c);
  }
}

// The cells of one row in either form: SQL "(v,v,...)" with quoted texts and date
// expressions, or a TSV line "v<TAB>v...<LF>" with LOAD DATA's escapes and day offsets.
class RowText {
 public:
  RowText(std::string& out, bool sql, const std::string& base_day)
      : out_(out), sql_(sql), base_day_(base_day) {
    if (sql_) out_.push_back('(');
  }
  void end() { out_.append(sql_ ? ")" : "\n"); }

  void text(std::string_view text) {
    next();
    if (sql_) out_.push_back('\'');
    for (char c : text) append_escaped(out_, c, sql_);
    if (sql_) out_.push_back('\'');
  }
  void nullable(const std::optional<std::string>& text) {
    if (text) {
      this->text(*text);
    } else {
      null();
    }
  }
  void flag(char c) { text(std::string_view(&c, 1)); }
  void number(long long value) {
    next();
    append_number(out_, value);
  }
  void number(const std::optional<int>& value) {
    if (value) {
      number(*value);
    } else {
      null();
    }
  }
  void cents(const std::optional<Cents>& value) {
    if (!value) return null();
    next();
    append_cents(out_, *value);
  }
  void civil(const CivilDate& date) {
    next();
    if (sql_) out_.push_back('\'');
    append_civil(out_, date);
    if (sql_) out_.push_back('\'');
  }
  // Days from the load day: an expression in SQL, the bare offset in TSV (load.sql adds it).
  void day(int in_days) {
    next();
    if (!sql_) return append_number(out_, in_days);
    out_.append(base_day_);
    if (in_days != 0) {
      out_.append(in_days < 0 ? " - INTERVAL " : " + INTERVAL ");
      append_number(out_, in_days < 0 ? -in_days : in_days);
      out_.append(" DAY");
    }
  }

 private:
  void next() {
    if (!first_) out_.push_back(sql_ ? ',' : '\t');
    first_ = false;
  }
  void null() {
    next();
    out_.append(sql_ ? "NULL" : "\\N");
  }
  std::string& out_;
  bool sql_;
  const std::string& base_day_;
  bool first_ = true;
};

// In the order of kCustomerColumns.
void render(std::string& out, bool sql, const std::string& base_day, const Customer& c) {
  RowText row(out, sql, base_day);
  row.number(c.id);
  row.text(c.razao);
  row.nullable(c.fantasia);
  row.flag(c.tipo_pessoa);
  row.nullable(c.cnpj_cpf);
  row.nullable(c.email);
  row.nullable(c.telefone_celular);
  row.flag(c.ativo);
  row.civil(c.data_cadastro);
  row.nullable(c.endereco);
  row.nullable(c.numero);
  row.nullable(c.bairro);
  row.nullable(c.cep);
  row.number(c.cidade);
  row.end();
}

// In the order of kReceivableColumns, then kReceivableDates.
void render(std::string& out, bool sql, const std::string& base_day, const Receivable& r) {
  RowText row(out, sql, base_day);
  row.number(r.id);
  row.number(r.id_cliente);
  row.number(r.id_contrato);
  row.number(r.filial_id);
  row.text(r.documento);
  row.flag(r.status);
  row.cents(r.valor);
  row.cents(r.valor_aberto);
  row.cents(r.valor_recebido);
  row.day(r.issued_in_days);
  row.day(r.due_in_days);
  row.end();
}

// Rows of one table as INSERT statements of about kStatementBytes each.
template <typename Row>
void sql_inserts(std::string& out, std::string_view head, const std::vector<Row>& rows,
                 const std::string& base_day) {
  std::size_t statement_start = out.size();
  bool open = false;
  for (const Row& row : rows) {
    if (open && out.size() - statement_start > kStatementBytes) {
      out.append(";\n");
      open = false;
    }
    if (!open) {
      statement_start = out.size();
      out.append(head);
      open = true;
    } else {
      out.append(",\n");
    }
    render(out, true, base_day, row);
  }
  if (open) out.append(";\n");
}

void write_all(std::FILE* file, std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
    throw std::runtime_error("write failed (disk full?)");
  }
  text.clear();
}

std::string cities_and_branches_sql() {
  std::string out, none;
  out.append("INSERT INTO cidade (").append(kCityColumns).append(") VALUES\n");
  for (const City& city : cities()) {
    if (city.id != cities().front().id) out.append(",\n");
    RowText row(out, true, none);
    row.number(city.id);
    row.text(city.nome);
    row.nullable(city.cod_ibge.empty() ? std::nullopt : std::optional<std::string>(city.cod_ibge));
    row.end();
  }
  out.append(";\nINSERT INTO filial (").append(kBranchColumns).append(") VALUES\n");
  for (const Branch& branch : branches()) {
    if (branch.id != branches().front().id) out.append(",\n");
    RowText row(out, true, none);
    row.number(branch.id);
    row.text(branch.razao);
    row.text(branch.fantasia);
    row.text(branch.cnpj);
    row.number(branch.cidade);
    row.end();
  }
  out.append(";\n");
  return out;
}

}  // namespace

// --- SqlWriter ---

SqlWriter::SqlWriter(std::FILE* out, std::string today) : out_(out), base_day_(base_day(today)) {}

void SqlWriter::begin() {
  text_.append("-- Generated by ixc-demo-data: the customers of a made-up provider.\n");
  text_.append("SET NAMES utf8mb4;\n").append(kSessionMode);
  text_.append("SET autocommit = 0, unique_checks = 0;\n");
  text_.append(cities_and_branches_sql());
  flush();
}

void SqlWriter::write(const Chunk& chunk) {
  std::string customer_head =
      "INSERT INTO cliente (" + std::string(kCustomerColumns) + ") VALUES\n";
  std::string receivable_head = "INSERT INTO fn_areceber (" + std::string(kReceivableColumns) +
                                ", " + std::string(kReceivableDates) + ") VALUES\n";
  sql_inserts(text_, customer_head, chunk.customers, base_day_);
  sql_inserts(text_, receivable_head, chunk.receivables, base_day_);
  flush();
}

void SqlWriter::end() {
  text_.append("COMMIT;\n");
  flush();
  if (std::fflush(out_) != 0) throw std::runtime_error("write failed (disk full?)");
}

void SqlWriter::flush() { write_all(out_, text_); }

// --- TsvWriter ---

TsvWriter::TsvWriter(const std::string& folder, std::string today)
    : folder_(std::filesystem::absolute(folder).string()), base_day_(base_day(today)) {}

TsvWriter::~TsvWriter() {
  if (customers_) std::fclose(customers_);
  if (receivables_) std::fclose(receivables_);
}

std::FILE* TsvWriter::open(const std::string& name) {
  std::string path = folder_ + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (!file) throw std::runtime_error("cannot write " + path);
  return file;
}

void TsvWriter::begin() {
  customers_ = open("cliente.tsv");
  receivables_ = open("fn_areceber.tsv");
}

void TsvWriter::write(const Chunk& chunk) {
  for (const Customer& c : chunk.customers) render(text_, false, base_day_, c);
  write_all(customers_, text_);
  for (const Receivable& r : chunk.receivables) render(text_, false, base_day_, r);
  write_all(receivables_, text_);
}

void TsvWriter::end() {
  for (std::FILE** file : {&customers_, &receivables_}) {
    if (std::fclose(*file) != 0) throw std::runtime_error("write failed (disk full?)");
    *file = nullptr;
  }
  // The handful of cities and branches need no file of their own.
  std::string load = "-- Generated by ixc-demo-data: loads the .tsv files beside it.\n";
  load.append("SET NAMES utf8mb4;\n").append(kSessionMode);
  load.append(cities_and_branches_sql());
  std::string quoted_folder = "'";  // left open: the file name follows inside the quotes
  for (char c : folder_) append_escaped(quoted_folder, c, true);
  load.append("LOAD DATA LOCAL INFILE ").append(quoted_folder).append("/cliente.tsv'\n");
  load.append("  INTO TABLE cliente CHARACTER SET utf8mb4 (")
      .append(kCustomerColumns)
      .append(");\n");
  load.append("LOAD DATA LOCAL INFILE ").append(quoted_folder).append("/fn_areceber.tsv'\n");
  load.append("  INTO TABLE fn_areceber CHARACTER SET utf8mb4\n  (")
      .append(kReceivableColumns)
      .append(", @emitido, @vence)\n");
  load.append("  SET data_emissao = " + base_day_ + " + INTERVAL @emitido DAY,\n");
  load.append("      data_vencimento = " + base_day_ + " + INTERVAL @vence DAY;\n");
  std::FILE* script = open("load.sql");
  write_all(script, load);
  if (std::fclose(script) != 0) throw std::runtime_error("write failed (disk full?)");
}

}  // namespace demo
