#include "app/check_erp.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

#include "erp/overdue_query.h"
#include "text/joined.h"
#include "vendor/tcp_client.h"

namespace ixc {
namespace {

using namespace std::chrono_literals;

constexpr auto kConnectLimit = 30s;
constexpr auto kLookupLimit = 30s;
constexpr auto kStatementLimit = 300s;

std::string tls_mode_text(ErpTlsMode mode) {
  switch (mode) {
    case ErpTlsMode::off:
      return "off";
    case ErpTlsMode::preferred:
      return "preferred";
    case ErpTlsMode::required:
      return "required";
  }
  return "";
}

// The server's own words without the "MariaDB host:port: " that the line already shows.
std::string without_server(const std::string& text, const std::string& server) {
  std::string prefix = server + ": ";
  return text.starts_with(prefix) ? text.substr(prefix.size()) : text;
}

// The first value of the first row of `statement`; absent for NULL or no row.
std::optional<std::string> first_value(ErpConnection& conn, const std::string& statement) {
  ErpResult result = erp_query(conn, statement);
  ErpRowValues values;
  if (!erp_next_row(result, values) || values.empty() || !values[0]) return std::nullopt;
  return std::string(*values[0]);
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

CheckLine connection_line(const ErpConnection& conn, const ErpParameters& parameters) {
  ErpSession session = erp_session(conn);
  std::string setting = " (IXC_ERP_TLS=" + tls_mode_text(parameters.tls.mode) + ")";
  std::string found = conn.server + ": login de '" + parameters.user + "' em '" +
                      parameters.database + "' aceito; servidor " + session.server_version + "; ";
  if (session.tls_cipher.empty()) {
    found += "sem TLS" + setting;
    // Asked for TLS and got clear text: the password's challenge and the rows cross unprotected.
    if (parameters.tls.mode == ErpTlsMode::preferred) {
      return {Mark::aviso, "ERP conexão",
              found + ": o servidor não oferece TLS e os dados vão em texto claro"};
    }
    return {Mark::ok, "ERP conexão", found};
  }
  found += "TLS, cifra " + session.tls_cipher + setting;
  found += parameters.tls.mode == ErpTlsMode::required && !parameters.tls.ca.empty()
               ? ", certificado verificado com IXC_ERP_TLS_CA"
               : ", certificado não verificado";
  return {Mark::ok, "ERP conexão", found};
}

// What is wrong with one table: empty when every column reads.
std::string table_problem(ErpConnection& conn, const ReadColumns& table) {
  std::string columns = joined(table.columns, ", ");
  try {
    erp_query(conn, "SELECT " + columns + " FROM " + table.table + " LIMIT 0");
    return "";
  } catch (const ErpError& error) {
    // The server names only the first column it misses; the catalogue shows the table's columns
    // that this account may see, so every missing one can be named.
    std::string server_text = without_server(error.what(), conn.server);
    ErpResult listing =
        erp_query(conn, std::string("SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE "
                                    "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = '") +
                            table.table + "'");
    std::vector<std::string> present;
    ErpRowValues values;
    while (erp_next_row(listing, values)) {
      if (!values.empty() && values[0]) present.push_back(lower(std::string(*values[0])));
    }
    std::vector<std::string> missing;
    for (const std::string& column : table.columns) {
      if (std::find(present.begin(), present.end(), lower(column)) == present.end()) {
        missing.push_back(column);
      }
    }
    if (present.empty() || missing.empty()) return server_text;
    return std::string(table.table) +
           (missing.size() == 1 ? " sem a coluna " : " sem as colunas ") +
           joined(missing, ", ", " e ") + " (" + server_text + ")";
  }
}

CheckLine tables_line(ErpConnection& conn, const ErpParameters& parameters) {
  std::vector<std::string> problems;
  std::vector<std::string> names;
  std::size_t column_count = 0;
  auto failure = failure_of(kLookupLimit, [&] {
    for (const ReadColumns& table : statement_columns()) {
      names.push_back(table.table);
      column_count += table.columns.size();
      std::string problem = table_problem(conn, table);
      if (!problem.empty()) problems.push_back(problem);
    }
  });
  if (failure) return {Mark::falha, "ERP tabelas", *failure};
  std::string where = conn.server + ": ";
  if (!problems.empty()) {
    return {Mark::falha, "ERP tabelas",
            where + joined(problems, ", ", "; ") + "; a consulta da coleta lê " +
                std::to_string(column_count) + " colunas de " + joined(names, ", ", " e ") +
                " e precisa de SELECT nelas para '" + parameters.user + "'"};
  }
  return {Mark::ok, "ERP tabelas",
          where + joined(names, ", ", " e ") + " existem e as " + std::to_string(column_count) +
              " colunas que a consulta lê podem ser lidas por '" + parameters.user + "'"};
}

CheckLine sql_mode_line(ErpConnection& conn) {
  std::optional<std::string> mode;
  auto failure =
      failure_of(kLookupLimit, [&] { mode = first_value(conn, "SELECT @@SESSION.sql_mode"); });
  if (failure) return {Mark::falha, "ERP sql_mode", *failure};
  std::string shown = "sql_mode da sessão '" + mode.value_or("") + "'";
  std::string where = conn.server + ": ";
  if (mode && mode->find("ONLY_FULL_GROUP_BY") != std::string::npos) {
    return {Mark::falha, "ERP sql_mode",
            where + shown +
                " inclui ONLY_FULL_GROUP_BY: o servidor recusa a consulta da coleta, que agrupa "
                "por cliente e lê contrato, filial e vencimento sem agregá-los; tire "
                "ONLY_FULL_GROUP_BY do sql_mode do servidor (o programa não muda nada na "
                "conexão)"};
  }
  return {Mark::ok, "ERP sql_mode", where + shown + " sem ONLY_FULL_GROUP_BY"};
}

std::string offset_text(long minutes) {
  char text[48];
  long magnitude = minutes < 0 ? -minutes : minutes;
  std::snprintf(text, sizeof text, "UTC%c%02ld:%02ld", minutes < 0 ? '-' : '+', magnitude / 60,
                magnitude % 60);
  return text;
}

CheckLine date_line(ErpConnection& conn) {
  std::optional<std::string> server_date;
  long offset = 0;
  auto failure = failure_of(kLookupLimit, [&] {
    ErpResult result =
        erp_query(conn, "SELECT CURRENT_DATE(), TIMESTAMPDIFF(MINUTE, UTC_TIMESTAMP(), NOW())");
    ErpRowValues values;
    if (erp_next_row(result, values) && values.size() == 2 && values[0] && values[1]) {
      server_date = std::string(*values[0]);
      offset = std::stol(std::string(*values[1]));
    }
  });
  if (failure) return {Mark::falha, "ERP data", *failure};
  std::string where = conn.server + ": ";
  if (!server_date) {
    return {Mark::aviso, "ERP data", where + "o servidor não informou CURRENT_DATE()"};
  }

  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char host_date[16];
  std::strftime(host_date, sizeof host_date, "%Y-%m-%d", &local);
  long host_offset = local.tm_gmtoff / 60;
  std::string server = *server_date + " (" + offset_text(offset) + ")";
  std::string host = std::string(host_date) + " (" + offset_text(host_offset) + ")";

  if (*server_date != host_date) {
    return {Mark::aviso, "ERP data",
            where + "CURRENT_DATE() do servidor é " + server + " e a data deste host é " + host +
                ": vencido é o que vence antes da data do servidor, não da deste host"};
  }
  if (offset != host_offset) {
    long hours = (offset > host_offset ? offset - host_offset : host_offset - offset) / 60;
    return {Mark::aviso, "ERP data",
            where + "CURRENT_DATE() do servidor " + server + " é a data deste host " + host +
                " agora, mas os fusos diferem: por cerca de " + std::to_string(hours) +
                " h ao dia as datas divergem, e vencido é o que vence antes da data do servidor"};
  }
  return {Mark::ok, "ERP data",
          where + "CURRENT_DATE() do servidor " + server + " é a data deste host"};
}

CheckLine statement_line(ErpConnection& conn, ErpCheck& check) {
  auto started = std::chrono::steady_clock::now();
  auto failure = failure_of(kStatementLimit, [&] { check.rows = obterDadosCliente(conn); });
  check.statement_time = std::chrono::steady_clock::now() - started;
  if (failure) {
    check.rows.reset();
    return {
        Mark::falha, "ERP consulta",
        conn.server + ": a consulta da coleta falhou: " + without_server(*failure, conn.server)};
  }
  std::int64_t titles = 0;
  for (const ClientRow& row : *check.rows) titles += row.titulosAtraso;
  std::string where = conn.server + ": ";
  std::string found = std::to_string(check.rows->size()) + " clientes em atraso, " +
                      std::to_string(titles) + " títulos vencidos contados, em " +
                      duration_text(check.statement_time);
  if (check.rows->empty()) {
    return {Mark::aviso, "ERP consulta",
            where + found + ": nenhum cliente em atraso; confira se DATABASE é o esquema do IXC"};
  }
  return {Mark::ok, "ERP consulta", where + found};
}

}  // namespace

std::vector<ReadColumns> read_columns(std::string_view statement) {
  auto is_name = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  std::vector<ReadColumns> tables;
  std::size_t i = 0;
  while (i < statement.size()) {
    if (!is_name(statement[i])) {
      ++i;
      continue;
    }
    std::size_t start = i;
    while (i < statement.size() && is_name(statement[i])) ++i;
    if (i + 1 >= statement.size() || statement[i] != '.' || !is_name(statement[i + 1])) continue;
    std::string table(statement.substr(start, i - start));
    std::size_t column_start = ++i;
    while (i < statement.size() && is_name(statement[i])) ++i;
    std::string column(statement.substr(column_start, i - column_start));
    auto entry = std::find_if(tables.begin(), tables.end(),
                              [&](const ReadColumns& read) { return read.table == table; });
    if (entry == tables.end()) entry = tables.insert(tables.end(), {table, {}});
    if (std::find(entry->columns.begin(), entry->columns.end(), column) == entry->columns.end()) {
      entry->columns.push_back(column);
    }
  }
  return tables;
}

const std::vector<ReadColumns>& statement_columns() {
  static const std::vector<ReadColumns> columns = read_columns(OVERDUE_STATEMENT);
  return columns;
}

ErpCheck check_erp(const ErpParameters& parameters, CheckReport& report) {
  ErpCheck check;
  ErpConnection conn;
  auto failure = failure_of(kConnectLimit, [&] { conn = open_erp_connection(parameters); });
  if (failure) {
    // Refused before the login, the server is named as the ERP's; refused after it (TLS required
    // and not offered), by what it said it is. A step's time-out names no server.
    std::string peer = kestrelkit::tcp_peer_text(parameters.host, parameters.port);
    bool named = false;
    for (std::string name : {"ERP ", "MariaDB ", "MySQL "}) {
      named |= failure->starts_with(name + peer + ": ");
    }
    if (!named) *failure = erp_server_text(parameters.host, parameters.port) + ": " + *failure;
    ixc::report(report, {Mark::falha, "ERP conexão",
                         *failure + " (tabelas, sql_mode, data e consulta não verificados)"});
    return check;
  }
  ixc::report(report, connection_line(conn, parameters));
  // A step cut off by its limit leaves a statement under way: the connection cannot take
  // another, and the steps after it are not tried.
  std::function<CheckLine()> steps[] = {
      [&] { return tables_line(conn, parameters); },
      [&] { return sql_mode_line(conn); },
      [&] { return date_line(conn); },
      [&] { return statement_line(conn, check); },
  };
  for (auto& step : steps) {
    CheckLine line = step();
    if (line.mark == Mark::falha && !line.finding.starts_with(conn.server)) {
      line.finding = conn.server + ": " + line.finding;
    }
    if (conn.call_in_progress) {
      line.finding += " (conexão abandonada; as verificações seguintes do ERP não foram feitas)";
      ixc::report(report, std::move(line));
      break;
    }
    ixc::report(report, std::move(line));
  }
  return check;
}

}  // namespace ixc
