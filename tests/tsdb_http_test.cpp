// The transport of both endpoints against a scripted HTTP server that records every request:
// what the query client and the sender put on the wire, how they read replies that QuestDB's
// stand-in would never give (an empty listing, a body that is not JSON), refusals and faults,
// and how the run-time limit bounds a server that never answers.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/console.h"
#include "app/run_settings.h"
#include "support/storage_run.h"
#include "tsdb/line_sender.h"
#include "tsdb/query_client.h"
#include "tsdb/schema.h"
#include "vendor/runtime_limiter.h"

namespace ixc {
namespace {

using test::stdout_of;
using test::use_questdb;

using namespace std::chrono_literals;

constexpr const char* kAddress = "127.0.0.22";
const std::string kBasicAuth = "Basic a2VzdHJlbDpvYnNlcnZhclFa";  // kestrel:observarQZ

struct ScriptedReply {
  int status = 200;
  std::string body = {};
  bool hang = false;  // read the request and never answer
};

struct RecordedRequest {
  std::string method;
  std::string target;
  std::string authorization;
  std::string body;
  int connection = 0;
};

// One listening socket served by one thread, one connection at a time (the program under test
// has one thread too). Replies are taken in order; the last one repeats.
class ScriptedServer {
 public:
  ScriptedServer(int port, std::vector<ScriptedReply> replies) : replies_(std::move(replies)) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, kAddress, &where.sin_addr);
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        listen(listen_fd_, 16) != 0) {
      close(listen_fd_);
      throw std::runtime_error("scripted server cannot listen on port " + std::to_string(port));
    }
    socklen_t size = sizeof where;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&where), &size);
    port_ = ntohs(where.sin_port);
    if (pipe2(stop_pipe_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    thread_ = std::thread([this] { serve(); });
  }

  ~ScriptedServer() {
    char byte = 0;
    (void)!write(stop_pipe_[1], &byte, 1);
    thread_.join();
    close(listen_fd_);
    close(stop_pipe_[0]);
    close(stop_pipe_[1]);
  }

  int port() const { return port_; }
  std::vector<RecordedRequest> requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  // Waits for `fd` or the stop pipe; false when stopping.
  bool wait_for(int fd) {
    pollfd ready[2] = {{fd, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    while (poll(ready, 2, -1) < 0) {
    }
    return (ready[1].revents & POLLIN) == 0;
  }

  void serve() {
    int connections = 0;
    while (wait_for(listen_fd_)) {
      int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      ++connections;
      bool open = true;
      std::string pending;
      while (open) open = serve_one(fd, connections, pending);
      close(fd);
    }
  }

  // Reads one request from the connection and answers it; false when the connection ends.
  bool serve_one(int fd, int connection, std::string& pending) {
    auto read_more = [&] {
      char buffer[1 << 16];
      if (!wait_for(fd)) return false;
      ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) return false;
      pending.append(buffer, static_cast<size_t>(n));
      return true;
    };
    std::size_t head_end;
    while ((head_end = pending.find("\r\n\r\n")) == std::string::npos) {
      if (!read_more()) return false;
    }
    std::string head = pending.substr(0, head_end + 2);
    RecordedRequest request;
    request.connection = connection;
    request.method = head.substr(0, head.find(' '));
    request.target = head.substr(head.find(' ') + 1, head.find(" HTTP/") - head.find(' ') - 1);
    std::size_t length = 0;
    std::size_t line_start = head.find("\r\n") + 2;
    while (line_start < head.size()) {
      std::size_t line_end = head.find("\r\n", line_start);
      std::string line = head.substr(line_start, line_end - line_start);
      std::string name = line.substr(0, line.find(':'));
      std::string value = line.substr(line.find(':') + 2);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (name == "content-length") length = std::stoul(value);
      if (name == "authorization") request.authorization = value;
      line_start = line_end + 2;
    }
    pending.erase(0, head_end + 4);
    while (pending.size() < length) {
      if (!read_more()) return false;
    }
    request.body = pending.substr(0, length);
    pending.erase(0, length);

    ScriptedReply reply;
    {
      std::lock_guard lock(mutex_);
      reply = replies_[std::min(requests_.size(), replies_.size() - 1)];
      requests_.push_back(std::move(request));
    }
    if (reply.hang) {
      while (read_more()) {
      }
      return false;
    }
    std::string answer = "HTTP/1.1 " + std::to_string(reply.status) + " Scripted\r\n" +
                         "Content-Type: application/json; charset=utf-8\r\nContent-Length: " +
                         std::to_string(reply.body.size()) + "\r\n\r\n" + reply.body;
    return send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(answer.size());
  }

  std::vector<ScriptedReply> replies_;
  std::vector<RecordedRequest> requests_;
  std::mutex mutex_;
  int listen_fd_ = -1;
  int port_ = 0;
  int stop_pipe_[2] = {-1, -1};
  std::thread thread_;
};

std::string sender_conf_for(int port) {
  return "http::addr=" + std::string(kAddress) + ":" + std::to_string(port) +
         ";username=kestrel;password=observarQZ;";
}

// --- the query client --------------------------------------------------------------------------

TEST(QueryClient, OneAuthenticatedGetPerStatementOnItsOwnConnectionWithQueryThenFmt) {
  use_questdb(kAddress);
  ScriptedServer server(9000, {{200, R"({"ddl":"OK"})"}});
  auto first = run_query("SHOW COLUMNS FROM ixcClientes");
  auto second = run_query("ALTER TABLE ixcClientes ADD COLUMN bairro SYMBOL capacity 4096 CACHE");
  ASSERT_TRUE(first && second);
  EXPECT_EQ(*first, nlohmann::ordered_json::parse(R"({"ddl":"OK"})"));
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/exec?query=SHOW%20COLUMNS%20FROM%20ixcClientes&fmt=json");
  EXPECT_EQ(requests[1].target,
            "/exec?query=ALTER%20TABLE%20ixcClientes%20ADD%20COLUMN%20bairro%20SYMBOL%20capacity"
            "%204096%20CACHE&fmt=json");
  EXPECT_EQ(requests[0].authorization, kBasicAuth);
  EXPECT_NE(requests[0].connection, requests[1].connection);
}

TEST(QueryClient, EncodesEveryReservedByteOfTheStatement) {
  use_questdb(kAddress);
  ScriptedServer server(9000, {{200, "{}"}});
  run_query("TRUNCATE TABLE ixcClientes;");
  run_query("a&fmt=csv 'x'+\"y\"/%#?=ção\n");
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, "/exec?query=TRUNCATE%20TABLE%20ixcClientes%3B&fmt=json");
  EXPECT_EQ(
      requests[1].target,
      "/exec?query=a%26fmt%3Dcsv%20%27x%27%2B%22y%22%2F%25%23%3F%3D%C3%A7%C3%A3o%0A&fmt=json");
}

TEST(QueryClient, ErrorRepliesAreRepliesAndKeepTheirMemberOrder) {
  use_questdb(kAddress);
  std::string refusal =
      R"({"query":"SHOW COLUMNS FROM ixcClientes","error":"table does not exist [table=ixcClientes]","position":18})";
  ScriptedServer server(9000, {{400, refusal}});
  std::optional<nlohmann::ordered_json> reply = run_query("SHOW COLUMNS FROM ixcClientes");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->dump(), refusal);
  EXPECT_EQ(stdout_of([&] { print_reply(reply); }),
            "{'query': 'SHOW COLUMNS FROM ixcClientes', 'error': 'table does not exist "
            "[table=ixcClientes]', 'position': 18}\n");
  EXPECT_EQ(stdout_of([] { print_reply(std::nullopt); }), "None\n");
}

TEST(QueryClient, ABodyThatIsNotJsonFailsNamingUrlStatusAndBodyButNotThePassword) {
  use_questdb(kAddress);
  ScriptedServer server(9000, {{401, "Unauthorized\r\n"}});
  try {
    run_query("SHOW COLUMNS FROM ixcClientes");
    FAIL() << "no failure";
  } catch (const QueryError& failure) {
    std::string text = failure.what();
    EXPECT_NE(text.find("http://127.0.0.22:9000/exec"), std::string::npos) << text;
    EXPECT_NE(text.find("401"), std::string::npos) << text;
    EXPECT_NE(text.find("Unauthorized\\r\\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("observarQZ"), std::string::npos) << text;
  }
}

TEST(QueryClient, ANumberBeyondADoubleIsABodyWeCannotReadNotAnEscapedLibraryError) {
  // Found by fuzzing: the JSON library raises out_of_range for it, not a parse error.
  EXPECT_THROW(decode_reply("http://127.0.0.22:9000/exec", HttpReply{200, "{\"count\":1e999}"}),
               QueryError);
}

// A reply decides neither how much the run reads nor how deep printing it recurses.
TEST(QueryClient, AReplyTooLargeOrTooDeepIsRefusedNotFollowed) {
  use_questdb(kAddress);
  ScriptedServer server(9000, {{200, "[\"" + std::string(kMaxReplyBytes, 'x') + "\"]"}});
  std::optional<nlohmann::ordered_json> reply;
  std::string out = stdout_of([&] { reply = run_query("SHOW COLUMNS FROM ixcClientes"); });
  EXPECT_FALSE(reply);
  EXPECT_EQ(out,
            "Error: http://127.0.0.22:9000/exec: resposta com mais de 8 MiB; a leitura parou "
            "aí e a conexão foi fechada\n");

  std::string deep = std::string(50000, '[') + std::string(50000, ']');
  try {
    decode_reply("http://127.0.0.22:9000/exec", HttpReply{200, deep});
    ADD_FAILURE() << "accepted";
  } catch (const QueryError& failure) {
    EXPECT_TRUE(std::string(failure.what())
                    .starts_with("resposta do QuestDB com mais de 32 níveis: "
                                 "http://127.0.0.22:9000/exec (HTTP 200): "))
        << failure.what();
  }
  std::string deepest_allowed = std::string(32, '[') + std::string(32, ']');
  EXPECT_NO_THROW(decode_reply("http://127.0.0.22:9000/exec", HttpReply{200, deepest_allowed}));
}

TEST(QueryClient, OnlyTheStartOfALongBodyThatIsNotJsonIsShown) {
  use_questdb(kAddress);
  ScriptedServer server(9000, {{502, "<html>" + std::string(5000, 'x') + "</html>"}});
  try {
    run_query("SHOW COLUMNS FROM ixcClientes");
    FAIL() << "no failure";
  } catch (const QueryError& failure) {
    std::string text = failure.what();
    EXPECT_NE(text.find("502"), std::string::npos) << text;
    EXPECT_NE(text.find("<html>xxx"), std::string::npos) << text;
    EXPECT_EQ(text.find("</html>"), std::string::npos) << text;
    EXPECT_LT(text.size(), 400u);
  }
}

TEST(QueryClient, AFailedRequestPrintsErrorWithUrlAndCauseAndGivesNoResult) {
  RunSettings settings;
  settings.quest_db_ip = "127.0.0.29";
  settings.quest_db_port = "9000";
  set_run_settings(settings);
  std::optional<nlohmann::ordered_json> reply;
  std::string out = stdout_of([&] { reply = run_query("SHOW COLUMNS FROM ixcClientes"); });
  EXPECT_FALSE(reply);
  EXPECT_EQ(out.rfind("Error: http://127.0.0.29:9000/exec: ", 0), 0u) << out;
  EXPECT_NE(out.find("onnect"), std::string::npos) << out;  // curl's cause: could not connect
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;

  settings.quest_db_ip = "127.0.0.22 9";  // a malformed URL is a failed request too
  set_run_settings(settings);
  out = stdout_of([&] { reply = run_query("SHOW COLUMNS FROM ixcClientes"); });
  EXPECT_FALSE(reply);
  EXPECT_EQ(out.rfind("Error: http://127.0.0.22 9:9000/exec: ", 0), 0u) << out;
}

TEST(QueryClient, AServerThatNeverAnswersIsCutByTheLimitWhichStaysSpent) {
  use_questdb(kAddress);
  ScriptedServer server(9000, {{.hang = true}});
  kestrelkit::RuntimeLimiter limiter(300ms);
  auto start = std::chrono::steady_clock::now();
  std::string out = stdout_of([] {
    EXPECT_THROW(run_query("SHOW COLUMNS FROM ixcClientes"), kestrelkit::TimeoutException);
    EXPECT_THROW(run_query("SHOW COLUMNS FROM ixcClientes"), kestrelkit::TimeoutException);
  });
  EXPECT_EQ(out, "");  // never an "Error:" line
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1200ms);
  EXPECT_EQ(server.requests().size(), 1u);  // the second call did not wait at all
}

// --- the schema check on replies that the stand-in does not give -------------------------------

TEST(SchemaCheckScripted, CurrentTableCostsOneRequest) {
  use_questdb(kAddress);
  std::string listing = R"({"dataset":[)";
  for (int i = 0; i < 15; ++i) listing += std::string(i ? "," : "") + "[\"c\"]";
  listing += "]}";
  ScriptedServer server(9000, {{200, listing}});
  EXPECT_EQ(stdout_of([] { check_schema(kClientesTable); }), "");
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST(SchemaCheckScripted, AnEmptyDatasetIsOutdatedAndEveryColumnIsAdded) {
  use_questdb(kAddress);
  ScriptedServer server(9000, {{200, R"({"dataset":[]})"}, {200, R"({"ddl":"OK"})"}});
  std::string out = stdout_of([] { check_schema(kClientesTable); });
  std::string expected =
      std::string(YELLOW) + std::string(kOutdatedMessage) + std::string(RESET) + "\n";
  for (int i = 0; i < 15; ++i) expected += "{'ddl': 'OK'}\n";
  EXPECT_EQ(out, expected);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 16u);
  EXPECT_EQ(requests[15].target,
            "/exec?query=ALTER%20TABLE%20ixcClientes%20ADD%20COLUMN%20timestamp%20TIMESTAMP"
            "&fmt=json");
}

TEST(SchemaCheckScripted, ListingsWithoutAUsableDatasetCountAsMissing) {
  use_questdb(kAddress);
  for (std::string listing :
       {R"([1,2,3])", R"({"count":15})", R"({"dataset":15})", R"("x")", R"({"dataset":null})"}) {
    SCOPED_TRACE(listing);
    ScriptedServer server(9000, {{200, listing}, {200, R"({"ddl":"OK"})"}});
    EXPECT_EQ(stdout_of([] { check_schema(kClientesSomaTable); }),
              std::string(YELLOW) + "Tabela ixcClientesSoma não encontrada, criando tabela!" +
                  std::string(RESET) + "\n");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target.rfind("/exec?query=CREATE%20TABLE%20%27ixcClientesSoma%27", 0),
              0u);
  }
}

TEST(SchemaCheckScripted, AnUndecodableAddColumnReplyLeadsToCreationButAListingDoesNot) {
  use_questdb(kAddress);
  {
    ScriptedServer server(
        9000, {{200, R"({"dataset":[["a"]]})"}, {200, "<html>"}, {200, R"({"ddl":"OK"})"}});
    EXPECT_EQ(stdout_of([] { check_schema(kClientesTable); }),
              std::string(YELLOW) + std::string(kOutdatedMessage) + std::string(RESET) + "\n" +
                  std::string(YELLOW) + "Tabela ixcClientes não encontrada, criando tabela!" +
                  std::string(RESET) + "\n{'ddl': 'OK'}\n");
    EXPECT_EQ(server.requests().size(), 3u);  // the listing, one ALTER, the CREATE
  }
  {
    // The listing is outside the guarded block, and so is the creation.
    ScriptedServer server(9000, {{200, "<html>"}});
    EXPECT_THROW(check_schema(kClientesTable), QueryError);
  }
  {
    ScriptedServer server(9000, {{200, R"({"error":"x"})"}, {200, "<html>"}});
    stdout_of([] { EXPECT_THROW(check_schema(kClientesTable), QueryError); });
  }
}

TEST(SchemaCheckScripted, ASpentLimitInsideTheGuardedBlockIsRaisedAgainByTheCreation) {
  use_questdb(kAddress);
  ScriptedServer server(9000, {{200, R"({"dataset":[["a"]]})"}, {.hang = true}});
  kestrelkit::RuntimeLimiter limiter(300ms);
  std::string out =
      stdout_of([] { EXPECT_THROW(check_schema(kClientesTable), kestrelkit::TimeoutException); });
  EXPECT_EQ(out, std::string(YELLOW) + std::string(kOutdatedMessage) + std::string(RESET) + "\n" +
                     std::string(YELLOW) + "Tabela ixcClientes não encontrada, criando tabela!" +
                     std::string(RESET) + "\n");
  EXPECT_EQ(server.requests().size(), 2u);  // the creation never went out
}

// --- the sender ------------------------------------------------------------------------------

TEST(LineSenderHttp, FlushPostsTheBufferOnceWithAuthAndAnEmptyBufferSendsNothing) {
  ScriptedServer server(0, {{204, ""}});
  LineSender sender = LineSender::from_conf(sender_conf_for(server.port()));
  sender.flush();
  EXPECT_EQ(server.requests().size(), 0u);
  sender.row("t", std::vector<Field>{Field("a", 1)}, TimestampNanos{10});
  sender.row("t", std::vector<Field>{Field("b", "x")}, TimestampNanos{11});
  sender.flush();
  sender.flush();
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/write?precision=n");
  EXPECT_EQ(requests[0].authorization, kBasicAuth);
  EXPECT_EQ(requests[0].body, "t a=1i 10\nt b=\"x\" 11\n");
}

TEST(LineSenderHttp, ABufferPastTheBoundGoesInRequestsOfWholeLines) {
  ScriptedServer server(0, {{204, ""}});
  constexpr std::size_t kBound = 4000;
  LineSender sender = LineSender::from_conf(sender_conf_for(server.port()), kBound);
  std::string text;
  for (int i = 0; i < 100; ++i) text += "Rua\n\"A\" ";  // line feeds and quotes in every text
  while (sender.buffer().size() <= 3 * kBound) {
    sender.row("t", std::vector<Field>{Field("s", std::string_view(text))}, TimestampNanos{1});
  }
  std::string sent = sender.buffer();
  sender.flush();
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  std::string joined;
  for (const auto& request : requests) {
    EXPECT_LE(request.body.size(), kBound);
    EXPECT_TRUE(request.body.starts_with("t s=\"Rua\\\n")) << request.body.substr(0, 20);
    joined += request.body;
  }
  EXPECT_EQ(joined, sent);
}

TEST(LineSenderHttp, ARefusalCarriesTheServerMessageAndTheRowsAreDropped) {
  std::string refusal =
      R"({"code":"invalid","message":"failed to parse line protocol:errors encountered on line(s):\nerror in line 1: table: t, column: a; cast error from protocol type: LONG to column type: STRING","line":1,"errorId":"x-1"})";
  ScriptedServer server(0, {{400, refusal}, {204, ""}});
  LineSender sender = LineSender::from_conf(sender_conf_for(server.port()));
  sender.row("t", std::vector<Field>{Field("a", 1)}, TimestampNanos{1});
  try {
    sender.flush();
    FAIL() << "no failure";
  } catch (const IngressError& failure) {
    EXPECT_EQ(std::string(failure.what()),
              "Could not flush buffer: failed to parse line protocol:errors encountered on "
              "line(s):\\nerror in line 1: table: t, column: a; cast error from protocol type: "
              "LONG to column type: STRING");
  }
  EXPECT_TRUE(sender.buffer().empty());
  sender.flush();
  EXPECT_EQ(server.requests().size(), 1u);

  // A server that would forge console lines or colour the terminal, at length.
  nlohmann::json forged = {{"message", "x\nixc-atraso: OK\x1b[2J" + std::string(1 << 20, 'y')}};
  ScriptedServer hostile(0, {{400, forged.dump()}});
  LineSender other = LineSender::from_conf(sender_conf_for(hostile.port()));
  other.row("t", std::vector<Field>{Field("a", 1)}, TimestampNanos{1});
  try {
    other.flush();
    FAIL() << "no failure";
  } catch (const IngressError& failure) {
    std::string text = failure.what();
    EXPECT_TRUE(text.starts_with("Could not flush buffer: x\\nixc-atraso: OK\\x1b[2Jyyy")) << text;
    EXPECT_LT(text.size(), 1100u);
    EXPECT_TRUE(std::none_of(text.begin(), text.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 0x20; }));
  }
}

TEST(LineSenderHttp, AnyStatusButNoContentIsAFailureNamingTheStatus) {
  for (int status : {200, 401, 404, 413, 500}) {
    SCOPED_TRACE(status);
    ScriptedServer server(0, {{status, status == 401 ? "Unauthorized\r\n" : ""}});
    LineSender sender = LineSender::from_conf(sender_conf_for(server.port()));
    sender.row("t", std::vector<Field>{Field("a", 1)}, TimestampNanos{1});
    try {
      sender.flush();
      ADD_FAILURE() << "no failure";
    } catch (const IngressError& failure) {
      std::string text = failure.what();
      EXPECT_EQ(text.rfind("Could not flush buffer: HTTP status " + std::to_string(status), 0), 0u)
          << text;
      if (status == 401) {
        EXPECT_EQ(text, "Could not flush buffer: HTTP status 401: Unauthorized");
      }
    }
  }
}

TEST(LineSenderHttp, ARefusedConnectionNamesTheWriteUrlAndCurlsCause) {
  LineSender sender = LineSender::from_conf("http::addr=127.0.0.29:9;username=u;password=pw9;");
  sender.row("t", std::vector<Field>{Field("a", 1)}, TimestampNanos{1});
  try {
    sender.flush();
    FAIL() << "no failure";
  } catch (const IngressError& failure) {
    std::string text = failure.what();
    EXPECT_EQ(text.rfind("Could not flush buffer: http://127.0.0.29:9/write: ", 0), 0u) << text;
    EXPECT_GT(text.size(),
              std::string("Could not flush buffer: http://127.0.0.29:9/write: ").size());
    EXPECT_EQ(text.find("pw9"), std::string::npos) << text;
  }
}

TEST(LineSenderHttp, AServerThatNeverAnswersIsCutByTheLimitNotAnIngressError) {
  ScriptedServer server(0, {{.hang = true}});
  LineSender sender = LineSender::from_conf(sender_conf_for(server.port()));
  sender.row("t", std::vector<Field>{Field("a", 1)}, TimestampNanos{1});
  kestrelkit::RuntimeLimiter limiter(300ms);
  EXPECT_THROW(sender.flush(), kestrelkit::TimeoutException);
  sender.row("t", std::vector<Field>{Field("a", 1)}, TimestampNanos{1});
  EXPECT_THROW(sender.flush(), kestrelkit::TimeoutException);
  EXPECT_EQ(server.requests().size(), 1u);
}

}  // namespace
}  // namespace ixc
