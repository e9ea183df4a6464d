// Whole runs of the real program against servers that fail in every way an operator meets:
// for the ERP's MariaDB, the Zabbix trapper, QuestDB's /exec and QuestDB's /write, each of
// refused, accepting and never answering, answering byte by byte too slowly, dropping the
// connection mid-reply and answering garbage; for Zabbix with a pre-shared key also a refused
// handshake, a server without TLS and a key file that is not there. Each cell pins the console
// lines, the stream they go to and the exit status, that the run ends within the limit plus a
// second, and that neither password shows anywhere.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/console.h"
#include "support/fake_mariadb.h"
#include "support/loopback_socket.h"
#include "support/mariadb_server.h"
#include "support/program_run.h"
#include "support/questdb_standin.h"
#include "support/scratch_folder.h"
#include "support/trapper_standin.h"
#include "tsdb/endpoints.h"
#include "vendor/zabbix_sender.h"

namespace ixc::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kQuestAddress = "127.0.0.51";
constexpr int kLimitMs = 1500;
const std::string kTimeout = "Tempo limite de execução esgotado (1500 ms)";
constexpr const char* kPskIdentity = "ixc-falhas";
constexpr const char* kPskKey = "5f0e9c1d2b3a49687766554433221100ffeeddccbbaa99887766554433221100";
// What the QuestDB passwords would look like in an Authorization header.
const std::string kQuestCredentials64 = "a2VzdHJlbDpvYnNlcnZhclFa";  // kestrel:observarQZ

std::string yellow(const std::string& text) {
  return std::string(YELLOW) + text + std::string(RESET);
}
const std::string kClientsMissing = yellow("Tabela ixcClientes não encontrada, criando tabela!");
const std::string kTotalsMissing = yellow("Tabela ixcClientesSoma não encontrada, criando tabela!");
const std::vector<std::string> kStored = {kClientsMissing, "{'ddl': 'OK'}", kTotalsMissing, "OK"};

enum class Erp { Real, Refused, Silent, HalfGreeting, Garbage, Slow, Trickle, CutReply };

// Where a cell's fault sits; every other server behaves.
struct Setup {
  Erp erp = Erp::Real;
  const char* zabbix = "none";  // a trapper stand-in fault, or "refused"
  const char* psk = "";         // with PSK: "other key" on the stand-in, "clear" for a stand-in
                                // without TLS, "no key file" for a client key file not there
  const char* exec = "";        // a QuestDB stand-in /exec fault, "refused", or "address:" and the
                                // text given as quest_db_ip
  const char* write = "";       // a QuestDB stand-in /write fault, "refused", or "port:" and the
                                // text given as quest_db_port
};
Setup erp(Erp fault) { return {.erp = fault}; }
Setup zabbix(const char* fault) { return {.zabbix = fault}; }
Setup zabbix_psk(const char* fault) { return {.psk = fault}; }
Setup exec(const char* fault) { return {.exec = fault}; }
Setup write(const char* fault) { return {.write = fault}; }

struct Cell {
  const char* service;
  const char* fault;
  Setup setup;
  // Expected lines; "{erp}", "{zabbix}", "{quest}" and "{ingest}" stand for the servers'
  // addresses and the ingestion port, "{psk}" for the client's key file, "…" for text that the
  // client libraries choose.
  std::vector<std::string> out;
  std::vector<std::string> err;
  int status = 0;
};

std::vector<Cell> matrix() {
  // The emptying, the listing, the creation and the second listing of the client rows fail,
  // each with curl's text for why.
  auto exec_failed = [](const std::string& cause) {
    std::string line = "Error: http://{quest}:9000/exec: " + cause;
    return std::vector<std::string>{line, line, kClientsMissing, line, "None", line};
  };
  // The rows' flush fails, then the totals' flush.
  auto ingest_failed = [](const std::string& cause) {
    return std::vector<std::string>{"Erro: " + cause, "Erro: " + cause};
  };
  const std::string no_listing =
      "ixc-atraso: a listagem de colunas de ixcClientes não trouxe resposta do QuestDB";
  // curl's own words: 7.88 (Debian 12) "Couldn't connect to server" and "transfer closed with
  // N bytes remaining to read", 8.14 (Debian 13) "Could not connect to server" and "end of
  // response with N bytes missing".
  const std::string cannot_connect = curl_easy_strerror(CURLE_COULDNT_CONNECT);
  const std::string cut_short = curl_version_info(CURLVERSION_NOW)->version_num < 0x080000
                                    ? "transfer closed with … bytes remaining to read"
                                    : "end of response with … bytes missing";
  const std::string refused =
      "Failed to connect to {quest} port 9000 after … ms: " + cannot_connect;
  const std::string not_http = "Received HTTP/0.9 when not allowed";
  const std::string flush = "Could not flush buffer: ";
  const std::string write_url = flush + "http://{quest}:{ingest}/write: ";
  const std::string lost_greeting =
      "ixc-atraso: ERP {erp}: Lost connection to server at 'handshake: reading initial "
      "communication packet', system error: …";
  const std::string html =
      "<html><head><title>Gateway</title></head><body><h1>It works!</h1>"
      "</body></html>";
  const std::string rejected = flush +
                               "failed to parse line protocol:errors encountered on line(s):\\n"
                               "error in line 1: rejected by --write-fault reject";
  const std::vector<std::string> flushed = {kClientsMissing, "{'ddl': 'OK'}", kTimeout};

  // clang-format off
  return {
      {"MariaDB", "refused", erp(Erp::Refused), {},
       {"ixc-atraso: ERP {erp}: Can't connect to server on '127.0.0.1' (111)"}, 1},
      {"MariaDB", "never answers", erp(Erp::Silent), {kTimeout}, {}, 0},
      {"MariaDB", "byte by byte, too slowly", erp(Erp::Slow), {kTimeout}, {}, 0},
      {"MariaDB", "byte by byte, in time", erp(Erp::Trickle), kStored, {}, 0},
      {"MariaDB", "drops in the greeting", erp(Erp::HalfGreeting), {}, {lost_greeting}, 1},
      {"MariaDB", "drops in the reply", erp(Erp::CutReply), {},
       {"ixc-atraso: MariaDB {erp}: Lost connection to server during query"}, 1},
      {"MariaDB", "garbage", erp(Erp::Garbage), {}, {lost_greeting}, 1},

      {"Zabbix", "refused", zabbix("refused"), {},
       {"ixc-atraso: Zabbix {zabbix}: conexão recusada"}, 1},
      {"Zabbix", "never answers", zabbix("silent"), {kTimeout}, {}, 0},
      {"Zabbix", "byte by byte, too slowly", zabbix("slow"), {kTimeout}, {}, 0},
      {"Zabbix", "drops without a reply", zabbix("close"), {},
       {"ixc-atraso: Zabbix {zabbix}: conexão fechada sem resposta"}, 1},
      {"Zabbix", "drops mid-reply", zabbix("truncated"), {},
       {"ixc-atraso: Zabbix {zabbix}: resposta incompleta (… de … bytes antes do fechamento)"}, 1},
      {"Zabbix", "resets", zabbix("reset"), {},
       {"ixc-atraso: Zabbix {zabbix}: falha ao receber: conexão redefinida pelo servidor"}, 1},
      {"Zabbix", "garbage", zabbix("garbage"), {},
       {"ixc-atraso: Zabbix {zabbix}: resposta fora do protocolo Zabbix (começa com 48 54 54 50 "
        "2f 31 2e 31)"}, 1},
      {"Zabbix with PSK", "refuses the key", zabbix_psk("other key"), {},
       {"ixc-atraso: Zabbix {zabbix}: handshake TLS recusado pelo servidor (identidade PSK "
        "\"ixc-falhas\" ou chave erradas?): alerta …"}, 1},
      {"Zabbix with PSK", "speaks no TLS", zabbix_psk("clear"), {},
       {"ixc-atraso: Zabbix {zabbix}: handshake TLS recusado: o servidor fechou a conexão "
        "(identidade PSK \"ixc-falhas\" ou chave erradas, ou o servidor não aceita PSK?): The TLS "
        "connection was non-properly terminated."}, 1},
      {"Zabbix with PSK", "key file not there", zabbix_psk("no key file"), {},
       {"ixc-atraso: Zabbix {zabbix}: arquivo da chave PSK {psk} não lido: No such file or "
        "directory"}, 1},

      {"QuestDB /exec", "refused", exec("refused"), exec_failed(refused), {no_listing}, 1},
      {"QuestDB /exec", "never answers", exec("hang"), {kTimeout}, {}, 0},
      {"QuestDB /exec", "byte by byte, too slowly", exec("slow"), {kTimeout}, {}, 0},
      {"QuestDB /exec", "drops mid-reply", exec("drop"),
       exec_failed(cut_short), {no_listing}, 1},
      {"QuestDB /exec", "garbage", exec("garbage"), {},
       {"ixc-atraso: resposta do QuestDB que não é JSON: http://{quest}:9000/exec (HTTP 200): \"" +
        html + "\\n\""}, 1},
      {"QuestDB /exec", "not HTTP", exec("badhttp"), exec_failed(not_http), {no_listing}, 1},
      // Settings that name no server end the run before anything is sent or emptied.
      {"QuestDB /exec", "address that is no URL host", exec("address:{quest} x"), {},
       {"ixc-atraso: quest_db_ip (QUESTDB_HOST) \"{quest}\" não é um host: esperado nome, "
        "IPv4 ou [IPv6], sem porta"}, 1},
      {"QuestDB /exec", "refuses every statement", exec("reject"),
       {kClientsMissing, "{'query': \"CREATE TABLE 'ixcClientes' (…\", 'error': 'rejected by "
                         "--exec-fault reject', 'position': 0}"},
       {"ixc-atraso: a listagem de colunas de ixcClientes veio sem dataset: {'query': 'SHOW "
        "COLUMNS FROM ixcClientes', 'error': 'rejected by --exec-fault reject', 'position': 0}"}, 1},

      {"QuestDB /write", "refused", write("refused"), kStored,
       ingest_failed(write_url + "Failed to connect to {quest} port {ingest} after … ms: " +
                     cannot_connect), 0},
      {"QuestDB /write", "never answers", write("hang"), flushed, {}, 0},
      {"QuestDB /write", "byte by byte, too slowly", write("slow"), flushed, {}, 0},
      {"QuestDB /write", "drops mid-reply", write("drop"), kStored,
       ingest_failed(write_url + "Empty reply from server"), 0},
      {"QuestDB /write", "garbage", write("garbage"), kStored,
       ingest_failed(flush + "HTTP status 200: " + html), 0},
      {"QuestDB /write", "not HTTP", write("badhttp"), kStored,
       ingest_failed(write_url + not_http), 0},
      {"QuestDB /write", "port not a number", write("port:abc"), {},
       {"ixc-atraso: quest_db_port (QUESTDB_ILP_PORT) \"abc\" não é uma porta: esperado um "
        "número inteiro de 1 a 65535"}, 1},
      {"QuestDB /write", "port carrying entries", write("port:9000;password=x"), {},
       {"ixc-atraso: quest_db_port (QUESTDB_ILP_PORT) \"9000;password=x\" não é uma porta: "
        "esperado um número inteiro de 1 a 65535"}, 1},
      // QuestDB's own message holds a line feed, shown as \n so that it stays one line.
      {"QuestDB /write", "refuses the rows", write("reject"), kStored,
       lines_of("Erro: " + rejected + "\nErro: " + rejected), 0},
  };
  // clang-format on
}

// The servers of one cell, up for the length of its run.
struct Scene {
  ErpParameters erp;
  std::string erp_peer;
  std::string zabbix;
  std::string quest_ip = kQuestAddress;
  std::string ingest_port = "9000";
  std::unique_ptr<FakeMariaDb> fake;
  std::unique_ptr<TrapperStandin> trapper;
  std::unique_ptr<QuestDbStandin> questdb;
  std::string psk;  // "" in clear text
  std::string psk_file;
  ScratchFolder keys;

  explicit Scene(const Setup& cell) : psk(cell.psk) {
    erp = erp_database_once();
    std::uint16_t real_port = static_cast<std::uint16_t>(std::stoi(erp.port));
    auto fake_mode = [&]() -> std::optional<FakeMariaDbOptions> {
      switch (cell.erp) {
        case Erp::Silent:
          return FakeMariaDbOptions{FakeMode::Silent};
        case Erp::HalfGreeting:
          return FakeMariaDbOptions{FakeMode::HalfGreeting};
        case Erp::Garbage:
          return FakeMariaDbOptions{FakeMode::Garbage};
        case Erp::Slow:
          return FakeMariaDbOptions{FakeMode::Trickle, real_port, 20ms};
        case Erp::Trickle:
          return FakeMariaDbOptions{FakeMode::Trickle, real_port, 0ms};
        case Erp::CutReply:
          return FakeMariaDbOptions{FakeMode::CutReply, real_port};
        default:
          return std::nullopt;
      }
    }();
    if (fake_mode) {
      fake = std::make_unique<FakeMariaDb>(*fake_mode);
      erp.port = std::to_string(fake->port());
    } else if (cell.erp == Erp::Refused) {
      erp.port = std::to_string(free_loopback_port());
    }
    erp_peer = erp.host + ":" + erp.port;

    if (std::string(cell.zabbix) == "refused") {
      zabbix = "127.0.0.1:" + std::to_string(free_loopback_port());
    } else {
      TrapperOptions options{.fault = cell.zabbix, .slow_ms = 50};
      psk_file = keys.write("client.psk", std::string(kPskKey) + "\n");
      if (psk == "other key") {
        options.psk_identity = kPskIdentity;
        options.psk_file = keys.write("other.psk", "0123456789abcdef0123456789abcdef\n");
      }
      if (psk == "no key file") psk_file = keys.path + "/missing.psk";
      trapper = std::make_unique<TrapperStandin>(options);
      zabbix = trapper->address();
    }

    QuestDbStandinOptions quest;
    quest.address = kQuestAddress;
    std::string exec = cell.exec, write = cell.write;
    if (exec.starts_with("address:")) {
      quest_ip = expand(exec.substr(8));
      exec.clear();
    }
    if (write.starts_with("port:")) {
      ingest_port = write.substr(5);
      write.clear();
    }
    if (exec == "refused") {
      quest.ports = {0};  // the ingestion port only: nothing on 9000
    } else if (write == "refused") {
      ingest_port = std::to_string(free_loopback_port());
    }
    if (!exec.empty() && exec != "refused") quest.extra_arguments = {"--exec-fault", exec};
    if (!write.empty() && write != "refused") {
      quest.extra_arguments.insert(quest.extra_arguments.end(), {"--write-fault", write});
    }
    questdb = std::make_unique<QuestDbStandin>(quest);
    if (exec == "refused") ingest_port = std::to_string(questdb->ports[0]);
  }

  static ErpParameters erp_database_once() {
    static ErpParameters erp = erp_database(
        "matriz_falhas", std::string(IXC_TESTS_DIR) + "/fixtures/collection/customers.sql");
    return erp;
  }

  ProgramRun run() const {
    ProgramOptions options;
    options.environment = {"IXC_TEST_LIMIT_MS=" + std::to_string(kLimitMs),
                           "IXC_TEST_ZABBIX_SERVER=" + zabbix};
    if (!psk.empty()) {
      options.environment.insert(options.environment.end(),
                                 {"IXC_TEST_ZABBIX_TLS_CONNECT=psk",
                                  std::string("IXC_TEST_ZABBIX_TLS_PSK_IDENTITY=") + kPskIdentity,
                                  "IXC_TEST_ZABBIX_TLS_PSK_FILE=" + psk_file});
    }
    options.kill_after = 30s;
    return run_program(test_build_program_path(),
                       {"descobertaClientes", erp.host, erp.port, erp.user, erp.password,
                        erp.database, quest_ip, ingest_port, "provedor-falhas"},
                       options);
  }

  std::string expand(std::string line) const {
    for (auto [name, value] : {std::pair<std::string, std::string>{"{erp}", erp_peer},
                               {"{zabbix}", zabbix},
                               {"{psk}", psk_file},
                               {"{quest}", quest_ip},
                               {"{ingest}", ingest_port}}) {
      for (auto at = line.find(name); at != std::string::npos; at = line.find(name)) {
        line.replace(at, name.size(), value);
      }
    }
    return line;
  }
};

// Whether `line` is `pattern`, where each "…" of the pattern stands for any text.
bool line_matches(const std::string& line, const std::string& pattern) {
  const std::string any = "…";
  std::size_t at = 0, from = 0;
  bool first = true;
  while (true) {
    std::size_t wild = pattern.find(any, from);
    std::string piece = pattern.substr(from, wild == std::string::npos ? wild : wild - from);
    if (wild == std::string::npos) {
      return first ? line == piece : line.size() >= at + piece.size() && line.ends_with(piece);
    }
    if (first ? !line.starts_with(piece) : (at = line.find(piece, at)) == std::string::npos) {
      return false;
    }
    at += piece.size();
    from = wild + any.size();
    first = false;
  }
}

// The printed lines, a last one without its line feed marked so.
std::vector<std::string> printed_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + " (no line feed)");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

void expect_lines(const std::string& stream, const std::string& text,
                  const std::vector<std::string>& patterns, const Scene& scene) {
  std::vector<std::string> lines = printed_lines(text);
  bool same = lines.size() == patterns.size();
  for (std::size_t i = 0; same && i < lines.size(); ++i) {
    same = line_matches(lines[i], scene.expand(patterns[i]));
  }
  std::string wanted;
  for (const auto& pattern : patterns) wanted += scene.expand(pattern) + "\n";
  EXPECT_TRUE(same) << stream << " was:\n" << text << "expected:\n" << wanted;
}

TEST(FaultMatrix, EveryFailureGivesItsLinesAndStatusWithinTheLimitAndNoPassword) {
  for (const Cell& cell : matrix()) {
    SCOPED_TRACE(std::string(cell.service) + ", " + cell.fault);
    Scene scene(cell.setup);
    ProgramRun run = scene.run();
    expect_lines("stdout", run.out, cell.out, scene);
    expect_lines("stderr", run.err, cell.err, scene);
    EXPECT_EQ(run.status, cell.status);
    EXPECT_LT(run.elapsed.count(), kLimitMs + 1000);
    if (!cell.out.empty() && cell.out.back() == kTimeout) {
      EXPECT_GE(run.elapsed.count(), kLimitMs);
    }
    for (const std::string& secret : {scene.erp.password, std::string(kQuestPassword),
                                      kQuestCredentials64, std::string(kPskKey).substr(0, 16)}) {
      EXPECT_EQ(run.out.find(secret), std::string::npos) << run.out;
      EXPECT_EQ(run.err.find(secret), std::string::npos) << run.err;
    }
  }
}

// A trapper's frame whose body is not the protocol's JSON: the run's diagnostic carries the
// start of it, escaped so that it stays one line.
TEST(FaultMatrix, WhatAZabbixPeerSentStaysOnOneLineOfTheDiagnostic) {
  for (std::string body : {std::string("<html>\n<body>Bad Gateway</body>\r\n"),
                           std::string("{\"response\"\x00:\x1b[2J\x7f}", 17)}) {
    std::string frame =
        std::string("ZBXD\x01", 5) + static_cast<char>(body.size()) + std::string(7, '\0') + body;
    try {
      kestrelkit::parse_sender_reply(frame, "Zabbix 127.0.0.1:10051");
      ADD_FAILURE() << "accepted: " << body;
    } catch (const kestrelkit::SendError& error) {
      std::string text = error.what();
      EXPECT_TRUE(text.starts_with("Zabbix 127.0.0.1:10051: resposta sem \"response\"")) << text;
      EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20;
      })) << text;
    }
  }
}

}  // namespace
}  // namespace ixc::test
