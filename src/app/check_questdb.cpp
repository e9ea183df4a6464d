#include "app/check_questdb.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>

#include "app/deployment.h"
#include "text/excerpt.h"
#include "text/joined.h"
#include "tsdb/endpoints.h"
#include "tsdb/http_exchange.h"
#include "tsdb/line_sender.h"
#include "tsdb/query_client.h"
#include "tsdb/schema.h"

namespace ixc {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;

constexpr auto kRequestLimit = 20s;
constexpr std::size_t kShownBodyBytes = 200;
// Past this, collections every 5 minutes have stopped landing (the template's "collection
// stopped" trigger waits as long).
constexpr std::int64_t kStaleSeconds = 30 * 60;

std::string credentials_advice() {
  std::string file = deployment::kQuestDbPasswordFile;
  std::string password = file.empty() ? "a senha padrão do programa (README, \"QuestDB\")"
                                      : "a primeira linha de " + file;
  return "o QuestDB precisa de autenticação básica com http.user=" + std::string(quest_user()) +
         " e http.password igual a " + password +
         " em server.conf, ou QDB_HTTP_USER e QDB_HTTP_PASSWORD no ambiente do servidor, e de "
         "um reinício";
}

// The query client's decoding, so that a reply the run would refuse is refused here too.
Json decoded(const HttpReply& reply) { return decode_reply(query_host() + "/exec", reply); }

// Position of the first of `names` among the reply's columns; -1 when none is there.
int column_index(const Json& reply, std::initializer_list<std::string_view> names) {
  if (!reply.contains("columns") || !reply["columns"].is_array()) return -1;
  const Json& columns = reply["columns"];
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (!columns[i].is_object() || !columns[i].contains("name")) continue;
    for (std::string_view name : names) {
      if (columns[i]["name"] == name) return static_cast<int>(i);
    }
  }
  return -1;
}

const Json& rows_of(const Json& reply) {
  static const Json none = Json::array();
  return reply.contains("dataset") && reply["dataset"].is_array() ? reply["dataset"] : none;
}

// The cell of `row` at `index`, null when out of reach.
Json cell(const Json& row, int index) {
  if (index < 0 || !row.is_array() || static_cast<std::size_t>(index) >= row.size()) return {};
  return row[static_cast<std::size_t>(index)];
}

std::string error_of(const Json& reply) {
  if (reply.contains("error") && reply["error"].is_string()) {
    return one_line_excerpt(reply["error"].get<std::string>(), kShownBodyBytes);
  }
  return one_line_excerpt(reply.dump(), kShownBodyBytes);
}

struct WalState {
  bool suspended = false;
  std::int64_t writer_txn = 0;
  std::int64_t sequencer_txn = 0;
  std::string error;  // errorTag and errorMessage, when the server gives them
};

// The columns differ between server versions (8.0: writerLagTxnCount; 9: bufferedTxnSize and
// memoryPressure), so they are looked up by name.
std::map<std::string, WalState> wal_states(const Json& reply) {
  int name = column_index(reply, {"name"});
  int suspended = column_index(reply, {"suspended"});
  int writer = column_index(reply, {"writerTxn"});
  int sequencer = column_index(reply, {"sequencerTxn"});
  int tag = column_index(reply, {"errorTag"});
  int message = column_index(reply, {"errorMessage"});
  std::map<std::string, WalState> states;
  for (const Json& row : rows_of(reply)) {
    Json table = cell(row, name);
    if (!table.is_string()) continue;
    WalState state;
    state.suspended = cell(row, suspended) == true;
    if (Json txn = cell(row, writer); txn.is_number_integer()) state.writer_txn = txn;
    if (Json txn = cell(row, sequencer); txn.is_number_integer()) state.sequencer_txn = txn;
    for (const Json& part : {cell(row, tag), cell(row, message)}) {
      if (part.is_string() && !part.get<std::string>().empty()) {
        state.error += (state.error.empty() ? "" : ": ") + part.get<std::string>();
      }
    }
    states[table.get<std::string>()] = state;
  }
  return states;
}

struct ExecAnswer {
  std::optional<Json> reply;  // absent when /exec failed; its line says why
  CheckLine line;
};

ExecAnswer exec_line(const std::string& endpoint) {
  ExecAnswer answer;
  HttpReply reply;
  auto failure = failure_of(kRequestLimit, [&] { reply = exec_reply("select build()"); });
  const std::string unchecked = " (versão, tabelas e dados não verificados)";
  if (failure) {
    if (!failure->starts_with(endpoint)) *failure = endpoint + ": " + *failure;
    answer.line = {Mark::falha, "QuestDB /exec", *failure + unchecked};
    return answer;
  }
  if (reply.status == 401) {
    answer.line = {Mark::falha, "QuestDB /exec",
                   endpoint + " recusou o usuário '" + std::string(quest_user()) +
                       "' (HTTP 401): " + credentials_advice() + unchecked};
    return answer;
  }
  try {
    answer.reply = decoded(reply);
  } catch (const QueryError& error) {
    answer.line = {Mark::falha, "QuestDB /exec",
                   error.what() + std::string(" (é um QuestDB?)") + unchecked};
    return answer;
  }
  answer.line = {Mark::ok, "QuestDB /exec",
                 endpoint + " responde e aceita o usuário '" + std::string(quest_user()) + "'"};
  return answer;
}

CheckLine version_line(const Json& reply, const std::string& endpoint) {
  // The column is "build" on 8.0 and "build()" on 9; either way the only one.
  int index = column_index(reply, {"build", "build()"});
  Json text = cell(rows_of(reply).empty() ? Json() : rows_of(reply)[0], index < 0 ? 0 : index);
  if (!text.is_string()) {
    return {Mark::aviso, "QuestDB versão",
            endpoint + ": select build() não trouxe a versão: " + error_of(reply)};
  }
  std::string version = text;
  const std::string prefix = "Build Information: ";
  if (version.starts_with(prefix)) version.erase(0, prefix.size());
  return {Mark::ok, "QuestDB versão", endpoint + ": " + one_line_excerpt(version, kShownBodyBytes)};
}

// The table's columns and designated timestamp against its schema; `mark` becomes AVISO for a
// column missing or another designated timestamp.
std::string columns_finding(const TableSchema& table, const Json& listing, Mark& mark) {
  int name_at = column_index(listing, {"column"});
  int designated_at = column_index(listing, {"designated"});
  std::vector<std::string> present;
  std::string designated;
  for (const Json& row : rows_of(listing)) {
    Json name = cell(row, name_at);
    if (!name.is_string()) continue;
    present.push_back(name);
    if (cell(row, designated_at) == true) designated = name;
  }
  std::vector<std::string> missing;
  for (const ColumnDefinition& column : table.columns) {
    if (std::find(present.begin(), present.end(), column.name) == present.end()) {
      missing.emplace_back(column.name);
    }
  }

  std::string found = std::to_string(present.size()) + " colunas (esperadas " +
                      std::to_string(table.columns.size()) + ")";
  if (!missing.empty()) {
    mark = Mark::aviso;
    // The schema check counts columns only: fewer than expected adds them, as many does not.
    found += present.size() < table.columns.size()
                 ? "; faltam " + joined(missing) + ", que a próxima coleta acrescenta"
                 : "; faltam " + joined(missing) +
                       ", que a coleta não acrescenta porque só conta as colunas: ALTER TABLE " +
                       std::string(table.name) + " ADD COLUMN ...";
  }
  if (designated == table.designated) {
    found += ", timestamp designado " + designated;
  } else {
    mark = Mark::aviso;
    found += ", timestamp designado " + (designated.empty() ? "nenhum" : designated) +
             " em vez de " + std::string(table.designated);
  }
  return found;
}

CheckLine table_line(const TableSchema& table,
                     const std::optional<std::map<std::string, WalState>>& wal,
                     const std::string& wal_error, const std::string& endpoint) {
  std::string subject = "QuestDB " + std::string(table.name);
  Json listing;
  auto failure = failure_of(kRequestLimit,
                            [&] { listing = decoded(exec_reply(show_columns_statement(table))); });
  if (failure) return {Mark::falha, subject, endpoint + ": " + *failure};
  if (!listing.contains("dataset")) {
    std::string error = error_of(listing);
    if (error.starts_with("table does not exist")) {
      return {Mark::aviso, subject,
              endpoint + ": a tabela não existe; a primeira coleta a cria (" + error + ")"};
    }
    return {Mark::falha, subject, endpoint + ": SHOW COLUMNS falhou: " + error};
  }

  Mark mark = Mark::ok;
  std::string found = columns_finding(table, listing, mark);
  if (!wal) {
    mark = Mark::aviso;
    found += ", WAL não verificado (wal_tables(): " + wal_error + ")";
  } else if (auto state = wal->find(std::string(table.name)); state == wal->end()) {
    mark = Mark::aviso;
    found += ", sem WAL (DEDUP UPSERT KEYS não vale sem ele)";
  } else if (state->second.suspended) {
    return {Mark::falha, subject,
            endpoint + ": " + found + ", WAL suspenso" +
                (state->second.error.empty() ? "" : " (" + state->second.error + ")") +
                ": o QuestDB aceita as linhas e não as aplica; corrija a causa e retome com "
                "ALTER TABLE " +
                std::string(table.name) + " RESUME WAL"};
  } else {
    std::int64_t behind = state->second.sequencer_txn - state->second.writer_txn;
    found += behind > 0 ? ", WAL com " + std::to_string(behind) + " transações ainda por aplicar"
                        : ", WAL em dia";
  }
  return {mark, subject, endpoint + ": " + found};
}

CheckLine write_line() {
  std::string url;
  HttpReply reply;
  auto failure = failure_of(kRequestLimit, [&] {
    LineSender sender = LineSender::from_conf(sender_conf());
    url = sender.write_url();
    // An empty body is answered 204 and writes nothing: the credentials are all it tries.
    reply = sender.post_lines("");
  });
  if (failure) {
    if (!url.empty() && !failure->starts_with(url)) *failure = url + ": " + *failure;
    return {Mark::falha, "QuestDB /write", *failure};
  }
  if (reply.status == 204) {
    return {Mark::ok, "QuestDB /write",
            url + " aceita o usuário '" + std::string(quest_user()) +
                "' (um pedido vazio, respondido 204, sem linha escrita)"};
  }
  if (reply.status == 401) {
    return {Mark::falha, "QuestDB /write",
            url + " recusou o usuário '" + std::string(quest_user()) +
                "' (HTTP 401): " + credentials_advice()};
  }
  return {Mark::falha, "QuestDB /write",
          url + " respondeu HTTP " + std::to_string(reply.status) + " a um pedido vazio: \"" +
              one_line_excerpt(reply.body, kShownBodyBytes) + "\" (QUESTDB_ILP_PORT é a porta " +
              "HTTP do QuestDB?)"};
}

// Seconds since the epoch of QuestDB's "2026-12-09T18:55:02.123456Z"; absent for other text.
std::optional<std::int64_t> epoch_of(const std::string& text) {
  std::tm parts{};
  if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                  &parts.tm_hour, &parts.tm_min, &parts.tm_sec) != 6) {
    return std::nullopt;
  }
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  return static_cast<std::int64_t>(timegm(&parts));
}

std::string age_text(std::int64_t seconds) {
  if (seconds < 120) return std::to_string(seconds) + " s";
  if (seconds < 2 * 3600) return std::to_string(seconds / 60) + " min";
  if (seconds < 2 * 86400) return std::to_string(seconds / 3600) + " h";
  return std::to_string(seconds / 86400) + " dias";
}

CheckLine data_line(const std::string& endpoint) {
  Json last, rows;
  auto failure = failure_of(kRequestLimit, [&] {
    last = decoded(exec_reply("SELECT max(timestamp) FROM ixcClientesSoma"));
    rows = decoded(exec_reply("SELECT count() FROM ixcClientes"));
  });
  if (failure) return {Mark::falha, "QuestDB dados", endpoint + ": " + *failure};
  if (!last.contains("dataset") || !rows.contains("dataset")) {
    return {Mark::aviso, "QuestDB dados",
            endpoint + ": sem as duas tabelas não há dados de coleta: " +
                error_of(last.contains("dataset") ? rows : last)};
  }
  Json count = cell(rows_of(rows).empty() ? Json() : rows_of(rows)[0], 0);
  std::string clientes = "ixcClientes com " + (count.is_number() ? count.dump() : "?") + " linhas";
  Json when = cell(rows_of(last).empty() ? Json() : rows_of(last)[0], 0);
  std::optional<std::int64_t> at = when.is_string() ? epoch_of(when) : std::nullopt;
  if (!at) {
    return {Mark::aviso, "QuestDB dados",
            endpoint + ": ixcClientesSoma sem linhas, nenhuma coleta gravou ainda; " + clientes};
  }
  std::int64_t age = static_cast<std::int64_t>(std::time(nullptr)) - *at;
  std::string found = endpoint + ": última linha de ixcClientesSoma em " + when.get<std::string>() +
                      " (há " + age_text(age < 0 ? 0 : age) + "); " + clientes;
  if (age > kStaleSeconds) {
    return {Mark::aviso, "QuestDB dados",
            found + ": a última coleta gravada é antiga; as coletas estão paradas ou falhando?"};
  }
  return {Mark::ok, "QuestDB dados", found};
}

}  // namespace

void check_questdb(CheckReport& report) {
  try {
    check_questdb_settings();
  } catch (const BadSetting& bad) {
    ixc::report(report, {Mark::falha, "QuestDB /exec",
                         bad.what() + std::string(" (QuestDB não verificado)")});
    return;
  }
  std::string endpoint = query_host() + "/exec";
  ExecAnswer answer = exec_line(endpoint);
  bool answered = answer.reply.has_value();
  ixc::report(report, std::move(answer.line));
  if (answered) {
    ixc::report(report, version_line(*answer.reply, endpoint));
    std::optional<std::map<std::string, WalState>> wal;
    std::string wal_error;
    auto failure = failure_of(kRequestLimit, [&] {
      Json reply = decoded(exec_reply("select * from wal_tables()"));
      if (reply.contains("dataset")) {
        wal = wal_states(reply);
      } else {
        wal_error = error_of(reply);
      }
    });
    if (failure) wal_error = *failure;
    ixc::report(report, table_line(kClientesTable, wal, wal_error, endpoint));
    ixc::report(report, table_line(kClientesSomaTable, wal, wal_error, endpoint));
  }
  ixc::report(report, write_line());
  if (answered) ixc::report(report, data_line(endpoint));
}

}  // namespace ixc
