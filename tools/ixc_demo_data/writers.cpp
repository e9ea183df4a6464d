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

// --- SQL values ---

void sql_text(std::string& out, std::string_view text) {
  out.push_back('\'');
  for (char c : text) {
    if (c == '\'') {
      out.append("''");
    } else if (c == '\\') {
      out.append("\\\\");
    } else {
      out.push_back(c);
    }
  }
  out.push_back('\'');
}
void sql_nullable(std::string& out, const std::optional<std::string>& text) {
  if (text) {
    sql_text(out, *text);
  } else {
    out.append("NULL");
  }
}
void sql_number(std::string& out, const std::optional<int>& value) {
  if (value) {
    append_number(out, *value);
  } else {
    out.append("NULL");
  }
}
void sql_day(std::string& out, const std::string& base, int in_days) {
  out.append(base);
  if (in_days != 0) {
    out.append(in_days < 0 ? " - INTERVAL " : " + INTERVAL ");
    append_number(out, in_days < 0 ? -in_days : in_days);
    out.append(" DAY");
  }
}

void sql_customer(std::string& out, const Customer& c) {
  out.push_back('(');
  append_number(out, c.id);
  out.push_back(',');
  sql_text(out, c.razao);
  out.push_back(',');
  sql_nullable(out, c.fantasia);
  out.append(",'").push_back(c.tipo_pessoa);
  out.append("',");
  sql_text(out, c.cnpj_cpf);
  out.push_back(',');
  sql_nullable(out, c.email);
  out.push_back(',');
  sql_nullable(out, c.telefone_celular);
  out.append(",'").push_back(c.ativo);
  out.append("','");
  append_civil(out, c.data_cadastro);
  out.append("',");
  sql_nullable(out, c.endereco);
  out.push_back(',');
  sql_nullable(out, c.numero);
  out.push_back(',');
  sql_nullable(out, c.bairro);
  out.push_back(',');
  sql_nullable(out, c.cep);
  out.push_back(',');
  sql_number(out, c.cidade);
  out.push_back(')');
}

void sql_receivable(std::string& out, const Receivable& r, const std::string& base) {
  out.push_back('(');
  append_number(out, r.id);
  out.push_back(',');
  append_number(out, r.id_cliente);
  out.push_back(',');
  sql_number(out, r.id_contrato);
  out.push_back(',');
  sql_number(out, r.filial_id);
  out.push_back(',');
  sql_text(out, r.documento);
  out.append(",'").push_back(r.status);
  out.append("',");
  if (r.valor) {
    append_cents(out, *r.valor);
  } else {
    out.append("NULL");
  }
  out.push_back(',');
  append_cents(out, r.valor_aberto);
  out.push_back(',');
  append_cents(out, r.valor_recebido);
  out.push_back(',');
  sql_day(out, base, r.issued_in_days);
  out.push_back(',');
  sql_day(out, base, r.due_in_days);
  out.push_back(')');
}

// Rows of one table as INSERT statements of about kStatementBytes each.
template <typename Row, typename Render>
void sql_inserts(std::string& out, std::string_view head, const std::vector<Row>& rows,
                 Render render) {
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
    render(out, row);
  }
  if (open) out.append(";\n");
}

// --- TSV values ---

void tsv_text(std::string& out, std::string_view text) {
  for (char c : text) {
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
}
void tsv_nullable(std::string& out, const std::optional<std::string>& text) {
  if (text) {
    tsv_text(out, *text);
  } else {
    out.append("\\N");
  }
}
void tsv_number(std::string& out, const std::optional<int>& value) {
  if (value) {
    append_number(out, *value);
  } else {
    out.append("\\N");
  }
}

void tsv_customer(std::string& out, const Customer& c) {
  append_number(out, c.id);
  out.push_back('\t');
  tsv_text(out, c.razao);
  out.push_back('\t');
  tsv_nullable(out, c.fantasia);
  out.push_back('\t');
  out.push_back(c.tipo_pessoa);
  out.push_back('\t');
  tsv_text(out, c.cnpj_cpf);
  out.push_back('\t');
  tsv_nullable(out, c.email);
  out.push_back('\t');
  tsv_nullable(out, c.telefone_celular);
  out.push_back('\t');
  out.push_back(c.ativo);
  out.push_back('\t');
  append_civil(out, c.data_cadastro);
  out.push_back('\t');
  tsv_nullable(out, c.endereco);
  out.push_back('\t');
  tsv_nullable(out, c.numero);
  out.push_back('\t');
  tsv_nullable(out, c.bairro);
  out.push_back('\t');
  tsv_nullable(out, c.cep);
  out.push_back('\t');
  tsv_number(out, c.cidade);
  out.push_back('\n');
}

void tsv_receivable(std::string& out, const Receivable& r) {
  append_number(out, r.id);
  out.push_back('\t');
  append_number(out, r.id_cliente);
  out.push_back('\t');
  tsv_number(out, r.id_contrato);
  out.push_back('\t');
  tsv_number(out, r.filial_id);
  out.push_back('\t');
  tsv_text(out, r.documento);
  out.push_back('\t');
  out.push_back(r.status);
  out.push_back('\t');
  if (r.valor) {
    append_cents(out, *r.valor);
  } else {
    out.append("\\N");
  }
  out.push_back('\t');
  append_cents(out, r.valor_aberto);
  out.push_back('\t');
  append_cents(out, r.valor_recebido);
  out.push_back('\t');
  append_number(out, r.issued_in_days);
  out.push_back('\t');
  append_number(out, r.due_in_days);
  out.push_back('\n');
}

void write_all(std::FILE* file, std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
    throw std::runtime_error("write failed (disk full?)");
  }
  text.clear();
}

std::string cities_and_branches_sql() {
  std::string out;
  out.append("INSERT INTO cidade (").append(kCityColumns).append(") VALUES\n");
  bool first = true;
  for (const City& city : cities()) {
    out.append(first ? "(" : ",\n(");
    first = false;
    append_number(out, city.id);
    out.push_back(',');
    sql_text(out, city.nome);
    out.push_back(',');
    if (city.cod_ibge.empty()) {
      out.append("NULL");
    } else {
      sql_text(out, city.cod_ibge);
    }
    out.push_back(')');
  }
  out.append(";\nINSERT INTO filial (").append(kBranchColumns).append(") VALUES\n");
  first = true;
  for (const Branch& branch : branches()) {
    out.append(first ? "(" : ",\n(");
    first = false;
    append_number(out, branch.id);
    out.push_back(',');
    sql_text(out, branch.razao);
    out.push_back(',');
    sql_text(out, branch.fantasia);
    out.push_back(',');
    sql_text(out, branch.cnpj);
    out.push_back(',');
    append_number(out, branch.cidade);
    out.push_back(')');
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
  sql_inserts(text_, customer_head, chunk.customers, sql_customer);
  sql_inserts(text_, receivable_head, chunk.receivables,
              [this](std::string& out, const Receivable& r) { sql_receivable(out, r, base_day_); });
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
  for (const Customer& c : chunk.customers) tsv_customer(text_, c);
  write_all(customers_, text_);
  for (const Receivable& r : chunk.receivables) tsv_receivable(text_, r);
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
  std::string quoted_folder;
  sql_text(quoted_folder, folder_);
  quoted_folder.pop_back();  // the file name follows inside the quotes
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
