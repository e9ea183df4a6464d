// send_zabbix against the trapper stand-in: the bytes on the wire are those of Debian's
// zabbix_sender, in the clear and inside TLS with a pre-shared key, replies are read and
// returned, and every way a server can fail surfaces as SendError naming the server, or as
// TimeoutException once the run-time limit is spent.
#include "vendor/zabbix_sender.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/loopback_socket.h"
#include "support/program_run.h"
#include "support/scratch_folder.h"
#include "support/trapper_standin.h"
#include "vendor/runtime_limiter.h"

namespace kestrelkit {
namespace {

using ixc::test::free_loopback_port;
using ixc::test::LoopbackSocket;
using ixc::test::TrapperOptions;
using ixc::test::TrapperStandin;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr const char* kZabbixSender = "/usr/bin/zabbix_sender";

std::string printable(const std::string& bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f) {
      text.push_back(static_cast<char>(c));
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      text += escaped;
    }
  }
  return text;
}

// The message of the SendError that `send` raises, or a failure when it raises none.
template <typename Send>
std::string send_error_text(Send send) {
  try {
    send();
  } catch (const SendError& error) {
    return error.what();
  }
  ADD_FAILURE() << "no SendError was raised";
  return "";
}

// zabbix_sender 7.0 (Debian 13) adds its own "clock" and "ns" to each request; 6.0's (Debian 12)
// does not, nor does the collector, whose values the server stamps as they arrive. The sender's
// frame without them, its header's length made to match.
std::string without_sender_clock(std::string frame) {
  const std::size_t at = frame.rfind(",\"clock\":");
  if (at == std::string::npos || frame.back() != '}' ||
      frame.find(",\"ns\":", at) == std::string::npos) {
    return frame;
  }
  frame.erase(at, frame.size() - 1 - at);
  const std::uint32_t length = static_cast<std::uint32_t>(frame.size() - 13);  // after the header
  for (int i = 0; i < 4; ++i) frame[5 + i] = static_cast<char>((length >> (8 * i)) & 0xff);
  return frame;
}

struct WireCase {
  const char* what;
  std::string host;
  std::string key;
  std::string sender_text;  // what zabbix_sender gets after -o
  ItemValue value;          // what the collector hands to send_zabbix
};

TEST(ZabbixSenderWire, WritesTheSameBytesAsZabbixSender) {
  if (access(kZabbixSender, X_OK) != 0) GTEST_SKIP() << kZabbixSender << " is not installed";
  const std::string discovery =
      R"({"data": [{"{#ID_CLIENTE}": 1017, "{#RAZAO_SOCIAL}": "Jo\u00e3o d'Avila", )"
      R"("{#CPF_CNPJ}": "123.456.789-00", "{#STATUS_CLIENTE}": 1, "{#CONTATO_CLIENTE}": "N/A", )"
      R"("{#VALOR_ATRASO}": 189.9, "{#TITULOS_ATRASO}": 2}]})";
  const std::vector<WireCase> cases = {
      {"integer", "ixc-lab", "somaClientesAtrasoAtivo", "3", std::int64_t{3}},
      {"negative integer", "ixc-lab", "k", "-42", std::int64_t{-42}},
      {"largest integer", "ixc-lab", "k", "9223372036854775807", INT64_MAX},
      {"double", "ixc-lab", "valorAtraso[1017]", "189.9", 189.9},
      {"whole double", "ixc-lab", "somaValorAtrasoAtivo", "150.0", 150.0},
      {"tiny double", "ixc-lab", "k", "1e-05", 1e-05},
      {"double that prints long", "ixc-lab", "k", "0.30000000000000004", 0.1 + 0.2},
      {"quotes, backslashes, slash and non-ASCII", "ixc-são-paulo", R"(k["a\b"])",
       R"(Jo"ão \ d'Ávila / 5€ 𝄞)", std::string(R"(Jo"ão \ d'Ávila / 5€ 𝄞)")},
      {"control characters and DEL", "ixc-lab", "k", "a\tb\nc\rd\x01e\x1f\x7fg\bh\fi",
       std::string("a\tb\nc\rd\x01e\x1f\x7fg\bh\fi")},
      // zabbix_sender passes bytes that are not UTF-8 through untouched; so do we, rather than
      // let a second sender change what the server sees.
      {"bytes that are not UTF-8", "ixc-lab", "k", "\xc3( \xff", std::string("\xc3( \xff")},
      {"empty text", "ixc-lab", "k", "", std::string()},
      {"discovery document", "ixc-lab", "descobertaClientes", discovery, discovery},
  };

  TrapperStandin trapper;
  for (const auto& c : cases) {
    ixc::test::run_program(kZabbixSender, {"-z", "127.0.0.1", "-p", std::to_string(trapper.port()),
                                           "-s", c.host, "-k", c.key, "-o", c.sender_text});
    send_zabbix(trapper.address(), c.host, c.key, c.value);
  }
  auto records = trapper.records();
  ASSERT_EQ(records.size(), 2 * cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(printable(records[2 * i + 1].raw),
              printable(without_sender_clock(records[2 * i].raw)))
        << cases[i].what;
  }
}

TEST(ZabbixSenderWire, ValueLargerThanTheSocketBuffersArrivesWhole) {
  std::string document = R"({"data":[)";
  while (document.size() < (8u << 20)) document += R"({"{#ID_CLIENTE}":1017,"{#X}":"y"},)";
  document.back() = ']';
  document += "}";
  TrapperStandin trapper;
  auto reply = send_zabbix(trapper.address(), "ixc-lab", "descobertaClientes", document);
  EXPECT_EQ(reply.processed, 1);
  auto records = trapper.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].request["data"][0]["value"], document);
}

TEST(ZabbixSenderReply, CountsAndFailuresAreReturnedNotRaised) {
  {
    TrapperStandin trapper;
    auto reply = send_zabbix(trapper.address(), "ixc-lab", "somaClientesAtrasoAtivo", 3);
    EXPECT_EQ(reply.response, "success");
    EXPECT_EQ(reply.info, "processed: 1; failed: 0; total: 1; seconds spent: 0.000029");
    EXPECT_EQ(reply.processed, 1);
    EXPECT_EQ(reply.failed, 0);
    EXPECT_EQ(reply.total, 1);
  }
  {
    TrapperStandin trapper({.fault = "unknown"});
    auto reply = send_zabbix(trapper.address(), "ixc-lab", "valorAtraso[1017]", 189.9);
    EXPECT_EQ(reply.response, "success");
    EXPECT_EQ(reply.processed, 0);
    EXPECT_EQ(reply.failed, 1);
    EXPECT_EQ(reply.total, 1);
  }
  {
    TrapperStandin trapper({.fault = "failed"});
    auto reply = send_zabbix(trapper.address(), "ixc-lab", "k", std::string("x"));
    EXPECT_EQ(reply.response, "failed");
    EXPECT_TRUE(reply.info.starts_with("cannot parse as a valid JSON object")) << reply.info;
    EXPECT_EQ(reply.processed + reply.failed + reply.total, 0);
  }
}

TEST(ZabbixSenderReply, SlowAnswerStillSucceeds) {
  TrapperStandin trapper({.fault = "slow", .slow_ms = 3});
  auto reply = send_zabbix(trapper.address(), "ixc-lab", "k", 1);
  EXPECT_EQ(reply.response, "success");
  EXPECT_EQ(reply.processed, 1);
}

TEST(ZabbixSenderFailure, EachBrokenServerRaisesSendErrorNamingIt) {
  {
    ixc::test::LoopbackSocket closed(false);
    std::string server = "127.0.0.1:" + std::to_string(closed.port);
    EXPECT_EQ(send_error_text([&] { send_zabbix(server, "ixc-lab", "k", 1); }),
              "Zabbix " + server + ": conexão recusada");
  }
  struct Fault {
    const char* mode;
    const char* says;
  };
  for (auto [mode, says] : {Fault{"close", "conexão fechada sem resposta"},
                            Fault{"reset", "conexão redefinida pelo servidor"},
                            Fault{"garbage", "resposta fora do protocolo Zabbix"},
                            Fault{"oversize", "acima do limite de 64 MiB"},
                            Fault{"truncated", "resposta incompleta"}}) {
    SCOPED_TRACE(mode);
    TrapperStandin trapper({.fault = mode});
    std::string text = send_error_text([&] { send_zabbix(trapper.address(), "ixc-lab", "k", 1); });
    EXPECT_TRUE(text.starts_with("Zabbix " + trapper.address() + ": ")) << text;
    EXPECT_NE(text.find(says), std::string::npos) << text;
  }
}

TEST(ZabbixSenderFailure, MalformedServerAddressIsRefusedByName) {
  for (const char* address : {"", ":10051", "zabbix:", "zabbix:abc", "zabbix:0", "zabbix:65536",
                              "zabbix:-1", "zabbix:10051x", "::1", "[::1", "[::1]10051",
                              "[::1]:", "[zabbix]:10051", "zab bix", "[]"}) {
    SCOPED_TRACE(address);
    std::string text = send_error_text([&] { parse_zabbix_server(address); });
    // Appended, not "\"" + std::string(address) + "\"": GCC 12 at -O2 sees an overlapping
    // memcpy in that operator+ that cannot happen (-Wrestrict) and warns.
    std::string quoted = "\"";
    quoted.append(address).append("\"");
    EXPECT_NE(text.find(quoted), std::string::npos) << text;
  }
  std::string text = send_error_text([] { send_zabbix("[::1", "ixc-lab", "k", 1); });
  EXPECT_NE(text.find("\"[::1\""), std::string::npos) << text;
}

TEST(ZabbixSenderAddress, AcceptedFormsAndTheDefaultPort) {
  struct Form {
    const char* text;
    const char* host;
    std::uint16_t port;
  };
  for (auto [text, host, port] :
       {Form{"zabbix.example", "zabbix.example", 10051},
        Form{"zabbix.example:10052", "zabbix.example", 10052},
        Form{"10.0.0.5:65535", "10.0.0.5", 65535}, Form{"[::1]", "::1", 10051},
        Form{"[2001:db8::5]:1", "2001:db8::5", 1}}) {
    SCOPED_TRACE(text);
    auto address = parse_zabbix_server(text);
    EXPECT_EQ(address.host, host);
    EXPECT_EQ(address.port, port);
  }
}

TEST(ZabbixSenderAddress, AClusterIsItsNodesSeparatedBySemicolons) {
  auto nodes = parse_zabbix_cluster("zabbix-1;10.0.0.6:10052;[2001:db8::5]:1");
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0].host, "zabbix-1");
  EXPECT_EQ(nodes[0].port, 10051);
  EXPECT_EQ(nodes[1].port, 10052);
  EXPECT_EQ(nodes[2].host, "2001:db8::5");
  EXPECT_EQ(parse_zabbix_cluster("zabbix").size(), 1u);
  for (const char* text : {"a;", ";a", "a;;b", "a; b", "a;b:0", "a,b"}) {
    SCOPED_TRACE(text);
    std::string error = send_error_text([&] { parse_zabbix_cluster(text); });
    EXPECT_NE(error.find("\"" + std::string(text) + "\""), std::string::npos) << error;
  }
}

// After a failover the old active node refuses connections; a node whose connection is never
// answered (a full backlog here, a dead host in real life) costs the bound once.
TEST(ZabbixSenderCluster, ValuesGoToTheNodeThatAnswersWhichIsKeptForTheRun) {
  TrapperStandin active;
  std::uint16_t standby = free_loopback_port();
  ZabbixServer cluster =
      zabbix_server_at("127.0.0.1:" + std::to_string(standby) + ";" + active.address());
  for (int i = 0; i < 20; ++i) EXPECT_EQ(send_zabbix(cluster, "ixc-lab", "k", i).processed, 1);
  EXPECT_EQ(active.records().size(), 20u);
  EXPECT_EQ(cluster.answering, 1u);

  // Answering and refusing the value is no failover: Zabbix answered.
  TrapperStandin refusing({.fault = "unknown"});
  TrapperStandin other;
  ZabbixServer first_refuses = zabbix_server_at(refusing.address() + ";" + other.address());
  EXPECT_EQ(send_zabbix(first_refuses, "ixc-lab", "k", 1).processed, 0);
  EXPECT_TRUE(other.records().empty());

  LoopbackSocket full(true);
  ::listen(full.fd, 0);  // one connection waiting fills it; later handshakes go unanswered
  int taken = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(full.port);
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  ::connect(taken, reinterpret_cast<sockaddr*>(&to), sizeof to);
  ZabbixServer silent_first =
      zabbix_server_at("127.0.0.1:" + std::to_string(full.port) + ";" + active.address());
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i) send_zabbix(silent_first, "ixc-lab", "k", i);
  auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_GE(spent, kFailoverConnectBound);
  EXPECT_LT(spent, 2 * kFailoverConnectBound);
  ::close(taken);

  // No node answers: one line naming each.
  std::uint16_t gone = free_loopback_port();
  std::string both = "127.0.0.1:" + std::to_string(standby) + ";127.0.0.1:" + std::to_string(gone);
  std::string text = send_error_text([&] { send_zabbix(zabbix_server_at(both), "h", "k", 1); });
  EXPECT_EQ(text,
            "nenhum nó do cluster Zabbix atendeu: Zabbix 127.0.0.1:" + std::to_string(standby) +
                ": conexão recusada; Zabbix 127.0.0.1:" + std::to_string(gone) +
                ": conexão recusada");
}

// What a 7.0 proxy of a group answers for a host that another proxy of the group monitors (seen
// on 7.0.22): the value goes to that proxy, and so do the run's next values.
TEST(ZabbixSenderCluster, AProxyGroupsRedirectIsFollowedAndKept) {
  TrapperStandin monitoring;
  LoopbackSocket other_proxy(true);
  int answered = 0;
  std::thread proxy([&] {
    int peer = accept(other_proxy.fd, nullptr, nullptr);
    char buffer[4096];
    (void)!recv(peer, buffer, sizeof buffer, 0);
    std::string body = R"({"redirect":{"revision":1,"address":")" + monitoring.address() +
                       R"("},"response":"failed"})";
    std::string frame =
        std::string("ZBXD\x01", 5) + static_cast<char>(body.size()) + std::string(7, '\0') + body;
    (void)!send(peer, frame.data(), frame.size(), MSG_NOSIGNAL);
    close(peer);
    ++answered;
  });
  ZabbixServer group = zabbix_server_at("127.0.0.1:" + std::to_string(other_proxy.port));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(send_zabbix(group, "ixc-lab", "k", i).processed, 1);
  proxy.join();
  EXPECT_EQ(answered, 1);
  EXPECT_EQ(monitoring.records().size(), 3u);
}

TEST(ZabbixSenderAddress, HostNameIsResolved) {
  TrapperStandin trapper;
  auto reply = send_zabbix("localhost:" + std::to_string(trapper.port()), "ixc-lab", "k", 1);
  EXPECT_EQ(reply.processed, 1);
  reply = send_zabbix("localhost:" + std::to_string(trapper.port()), "ixc-lab", "k", 2);
  EXPECT_EQ(reply.processed, 1);
}

TEST(ZabbixSenderLimit, SilentServerIsCutByTheLimitAndTheSpentLimitStaysSpent) {
  TrapperStandin silent({.fault = "silent"});
  TrapperStandin healthy;
  auto started = Clock::now();
  {
    RuntimeLimiter limiter(milliseconds(1000));
    EXPECT_THROW(send_zabbix(silent.address(), "ixc-lab", "k", 1), TimeoutException);
    auto elapsed = Clock::now() - started;
    EXPECT_GE(elapsed, milliseconds(950));
    EXPECT_LT(elapsed, milliseconds(2000));
    // The collector must not get one more value out after a swallowed timeout.
    EXPECT_THROW(send_zabbix(healthy.address(), "ixc-lab", "k", 2), TimeoutException);
  }
  EXPECT_EQ(silent.records().size(), 1u);
  EXPECT_TRUE(healthy.records().empty());
}

std::size_t open_descriptors() {
  std::size_t count = 0;
  if (DIR* folder = opendir("/proc/self/fd")) {
    while (readdir(folder)) ++count;
    closedir(folder);
  }
  return count;
}

// Client-side TIME_WAIT sockets towards `port`: the local side of /proc/net/tcp is ephemeral
// and the remote side is the server's port.
std::size_t client_time_waits(std::uint16_t port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);
  std::size_t count = 0;
  char remote_port[8];
  std::snprintf(remote_port, sizeof remote_port, ":%04X", port);
  while (std::getline(table, line)) {
    std::string local, remote, state;
    std::string index;
    std::istringstream fields(line);
    fields >> index >> local >> remote >> state;
    if (state == "06" && remote.ends_with(remote_port)) ++count;
  }
  return count;
}

TEST(ZabbixSenderRepeat, ThousandsOfSendsLeakNoSocketAndLeaveNoTimeWait) {
  TrapperStandin trapper;
  TrapperStandin garbage({.fault = "garbage"});
  ixc::test::LoopbackSocket closed(false);
  std::string refused = "127.0.0.1:" + std::to_string(closed.port);
  std::size_t descriptors = open_descriptors();
  constexpr int kSends = 3000;
  for (int i = 0; i < kSends; ++i) {
    ASSERT_EQ(send_zabbix(trapper.address(), "ixc-lab", "titulosAtraso[1017]", i).processed, 1);
    if (i % 100 == 0) {
      EXPECT_THROW(send_zabbix(garbage.address(), "ixc-lab", "k", i), SendError);
      EXPECT_THROW(send_zabbix(refused, "ixc-lab", "k", i), SendError);
    }
  }
  EXPECT_EQ(open_descriptors(), descriptors);
  EXPECT_EQ(trapper.records().size(), static_cast<std::size_t>(kSends));
  if (std::ifstream("/proc/net/tcp").good()) {
    EXPECT_LT(client_time_waits(trapper.port()), static_cast<std::size_t>(kSends / 10));
  }
}

// Ephemeral ports in TIME_WAIT would run out within seconds at the collector's rate, so even a
// server that keeps the connection open after answering must not leave one on our side.
// Nor may it cost the close's wait on every value: at 200 000 values a run that would be
// more than an hour. Each close used to wait its 20 ms for the peer; only the first one may.
TEST(ZabbixSenderRepeat, ServerThatStaysOpenIsAnsweredAndLeavesNoTimeWait) {
  if (!std::ifstream("/proc/net/tcp").good()) GTEST_SKIP() << "no /proc/net/tcp to look at";
  TrapperStandin trapper({.fault = "keep"});
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(send_zabbix(trapper.address(), "ixc-lab", "k", i).processed, 1);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_EQ(client_time_waits(trapper.port()), 0u);
}

constexpr const char* kIdentity = "ixc-atraso teste";
const std::string kKey = "8f3c2a91d04b6e7f5a1c9d2e8b0f4a6c3e5d7b9a1f2c4e6d8b0a2c4e6f8a0b1c";
const std::string kOtherKey = "00112233445566778899aabbccddeeff";

ZabbixServer with_psk(const std::string& address, const std::string& file,
                      const std::string& identity = kIdentity) {
  return zabbix_server_at(address, {ZabbixTlsConnect::psk, identity, file});
}

TEST(ZabbixSenderPsk, ValuesArriveInsideTheSessionAsTheSameFrames) {
  ixc::test::ScratchFolder keys;
  // zabbix_sender takes the key with its line feed only; we take spaces around it as well.
  std::string sender_file = keys.write("sender.psk", kKey + "\n");
  std::string key_file = keys.write("key.psk", "  " + kKey + " \r\n");
  TrapperStandin clear;
  TrapperStandin psk({.psk_identity = kIdentity, .psk_file = sender_file});
  std::string document(1u << 20, 'x');  // many records, and writes that the socket cuts short
  send_zabbix(clear.address(), "ixc-lab", "valorAtraso[1017]", 189.9);
  send_zabbix(clear.address(), "ixc-lab", "descobertaClientes", document);
  for (int i = 0; i < 3; ++i) {
    auto reply =
        send_zabbix(with_psk(psk.address(), key_file), "ixc-lab", "valorAtraso[1017]", 189.9);
    EXPECT_EQ(reply.response, "success");
    EXPECT_EQ(reply.processed, 1);
  }
  EXPECT_EQ(
      send_zabbix(with_psk(psk.address(), key_file), "ixc-lab", "descobertaClientes", document)
          .processed,
      1);
  auto sent = clear.records();
  auto records = psk.records();
  ASSERT_EQ(records.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(printable(records[i].raw), printable(sent[0].raw));
  EXPECT_EQ(records[3].raw, sent[1].raw);
  // Zabbix's own sender gets through to the stand-in with the same identity and key.
  if (access(kZabbixSender, X_OK) == 0) {
    ixc::test::run_program(
        kZabbixSender, {"-z", "127.0.0.1", "-p", std::to_string(psk.port()), "--tls-connect", "psk",
                        "--tls-psk-identity", kIdentity, "--tls-psk-file", sender_file, "-s",
                        "ixc-lab", "-k", "valorAtraso[1017]", "-o", "189.9"});
    records = psk.records();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(printable(without_sender_clock(records[4].raw)), printable(sent[0].raw));
  }
}

// A server that answers anything with a Zabbix frame in clear text, as a trapper without TLS.
struct ClearTextAnswerer {
  ixc::test::LoopbackSocket socket{true};
  std::thread thread{[this] {
    int peer = accept(socket.fd, nullptr, nullptr);
    char buffer[4096];
    (void)!recv(peer, buffer, sizeof buffer, 0);
    std::string body = R"({"response":"failed","info":"x"})";
    std::string frame =
        std::string("ZBXD\x01", 5) + static_cast<char>(body.size()) + std::string(7, '\0') + body;
    (void)!send(peer, frame.data(), frame.size(), MSG_NOSIGNAL);
    close(peer);
  }};
  ~ClearTextAnswerer() { thread.join(); }
};

TEST(ZabbixSenderPsk, RefusedHandshakeAndClearTextServerAreToldApartNamingTheServer) {
  ixc::test::ScratchFolder keys;
  std::string key_file = keys.write("key.psk", kKey);
  std::string other_file = keys.write("other.psk", kOtherKey);
  TrapperStandin psk({.psk_identity = kIdentity, .psk_file = other_file});
  TrapperStandin clear;
  struct Case {
    const char* what;
    std::string server;
    ZabbixServer target;
    const char* says;
  };
  ClearTextAnswerer answerer;
  std::string answerer_address = "127.0.0.1:" + std::to_string(answerer.socket.port);
  for (const auto& c : {
           Case{"wrong key", psk.address(), with_psk(psk.address(), key_file),
                "handshake TLS recusado pelo servidor (identidade PSK \"ixc-atraso teste\""},
           Case{"unknown identity", psk.address(), with_psk(psk.address(), other_file, "outra"),
                "handshake TLS recusado pelo servidor (identidade PSK \"outra\""},
           Case{"server that closes on the ClientHello", clear.address(),
                with_psk(clear.address(), key_file),
                "handshake TLS recusado: o servidor fechou a conexão"},
           Case{"server that answers in clear text", answerer_address,
                with_psk(answerer_address, key_file),
                "o servidor respondeu sem TLS, em texto claro"},
       }) {
    SCOPED_TRACE(c.what);
    std::string text = send_error_text([&] { send_zabbix(c.target, "ixc-lab", "k", 1); });
    EXPECT_TRUE(text.starts_with("Zabbix " + c.server + ": ")) << text;
    EXPECT_NE(text.find(c.says), std::string::npos) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    EXPECT_EQ(text.find(kKey), std::string::npos) << text;
    EXPECT_EQ(text.find(kOtherKey), std::string::npos) << text;
  }
  EXPECT_TRUE(psk.records().empty());
  // A client in clear text gets nothing from a server that wants PSK.
  EXPECT_THROW(send_zabbix(psk.address(), "ixc-lab", "k", 1), SendError);
  EXPECT_TRUE(psk.records().empty());
}

TEST(ZabbixSenderPsk, UnusableKeyFileIsNamedAndTheKeyNeverShown) {
  ixc::test::ScratchFolder keys;
  std::string good = keys.write("good.psk", kKey);
  TrapperStandin psk({.psk_identity = kIdentity, .psk_file = good});
  struct Case {
    const char* what;
    std::string file;
    const char* says;
  };
  std::string secret = kKey.substr(0, 40);
  for (const auto& c : {
           Case{"missing", keys.path + "/missing.psk", "não lido: No such file or directory"},
           Case{"a folder", keys.path, "não lido: Is a directory"},
           Case{"empty", keys.write("empty.psk", " \n"), "está vazio"},
           Case{"not hex", keys.write("nothex.psk", secret + "g" + kKey), "não é só de dígitos"},
           Case{"two lines", keys.write("lines.psk", secret + "\n" + secret),
                "não é só de dígitos"},
           Case{"too short", keys.write("short.psk", kKey.substr(0, 30)), "30 dígitos"},
           Case{
               "too long",
               keys.write("long.psk", kKey + kKey + kKey + kKey + kKey + kKey + kKey + kKey + "00"),
               "máximo de 512"},
           Case{"odd", keys.write("odd.psk", kKey.substr(0, 33)), "número ímpar"},
       }) {
    SCOPED_TRACE(c.what);
    std::string text =
        send_error_text([&] { send_zabbix(with_psk(psk.address(), c.file), "ixc-lab", "k", 1); });
    EXPECT_TRUE(text.starts_with("Zabbix " + psk.address() + ": ")) << text;
    EXPECT_NE(text.find(c.file), std::string::npos) << text;
    EXPECT_NE(text.find(c.says), std::string::npos) << text;
    EXPECT_EQ(text.find(kKey.substr(0, 16)), std::string::npos) << text;
  }
  EXPECT_NE(send_error_text([&] {
              send_zabbix(with_psk(psk.address(), good, ""), "ixc-lab", "k", 1);
            }).find("identidade PSK vazia"),
            std::string::npos);
  EXPECT_TRUE(psk.records().empty());
  // A failed file is not remembered: the good one is read once named.
  EXPECT_EQ(send_zabbix(with_psk(psk.address(), good), "ixc-lab", "k", 1).processed, 1);
}

// The stand-in reads its key as the collector does: a file the collector refuses ends it with
// the same reason and status 1 before it listens, never with an abort or a key of its own making.
TEST(ZabbixSenderPsk, StandinRefusesTheKeyFilesTheCollectorRefuses) {
  ixc::test::ScratchFolder keys;
  struct Case {
    const char* what;
    std::string file;
    const char* says;
  };
  ixc::test::ProgramOptions options;
  options.kill_after = std::chrono::seconds(10);  // one that took the key listens until killed
  for (const auto& c : {
           Case{"not hex", keys.write("nothex.psk", kKey.substr(0, 40) + "g" + kKey),
                "não é só de dígitos"},
           Case{"too short", keys.write("short.psk", kKey.substr(0, 30)), "30 dígitos"},
       }) {
    SCOPED_TRACE(c.what);
    auto run = ixc::test::run_program(
        ixc::test::trapper_standin_path(),
        {"--listen", "127.0.0.1:0", "--tls-psk-identity", kIdentity, "--tls-psk-file", c.file},
        options);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("zabbix-trapper-standin: ")) << run.err;
    EXPECT_NE(run.err.find(c.file), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(kKey.substr(0, 16)), std::string::npos) << run.err;
  }
}

TEST(ZabbixSenderPsk, HandshakeWithASilentServerIsCutByTheLimit) {
  ixc::test::ScratchFolder keys;
  std::string key_file = keys.write("key.psk", kKey);
  ixc::test::LoopbackSocket silent(true);
  std::string server = "127.0.0.1:" + std::to_string(silent.port);
  auto started = Clock::now();
  RuntimeLimiter limiter(milliseconds(1000));
  EXPECT_THROW(send_zabbix(with_psk(server, key_file), "ixc-lab", "k", 1), TimeoutException);
  EXPECT_GE(Clock::now() - started, milliseconds(950));
  EXPECT_LT(Clock::now() - started, milliseconds(2000));
}

TEST(ZabbixSenderPsk, HundredsOfSessionsLeakNoSocketAndLeaveNoTimeWait) {
  ixc::test::ScratchFolder keys;
  std::string key_file = keys.write("key.psk", kKey);
  TrapperStandin psk({.psk_identity = kIdentity, .psk_file = key_file});
  TrapperStandin clear;
  std::size_t descriptors = open_descriptors();
  constexpr int kSends = 300;
  for (int i = 0; i < kSends; ++i) {
    ASSERT_EQ(send_zabbix(with_psk(psk.address(), key_file), "ixc-lab", "k", i).processed, 1);
    if (i % 50 == 0) {
      EXPECT_THROW(send_zabbix(with_psk(clear.address(), key_file), "ixc-lab", "k", i), SendError);
    }
  }
  EXPECT_EQ(open_descriptors(), descriptors);
  if (std::ifstream("/proc/net/tcp").good()) {
    EXPECT_LT(client_time_waits(psk.port()), static_cast<std::size_t>(kSends / 10));
  }
}

}  // namespace
}  // namespace kestrelkit
