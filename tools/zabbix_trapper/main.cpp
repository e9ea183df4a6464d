// A local stand-in for a Zabbix 6.0 trapper, for tests, the demo and the benchmark.
//
//   zabbix-trapper-standin --listen 127.0.0.1:0 [--record FILE] [--fault MODE] [--slow-ms N]
//                          [--tls-psk-identity ID --tls-psk-file FILE]
//
// It prints the port it listens on as the first line of stdout, then reads one request frame
// per connection, records it to FILE (one JSON line each) and answers as trapper_answer.h
// says. A record is on file before its connection sees any answer, so a client that has its
// reply can read the record at once. SIGTERM or SIGINT ends it.
//
// With a PSK identity and key file (hex, as zabbix_sender reads it), every connection must
// open with a TLS handshake for that identity and key, as a host that accepts PSK only asks;
// a client in clear text or with another key is closed without a frame. The fault modes then
// apply inside the session.
//
// One poll loop serves every connection, so that a connection held open by the `silent` fault
// or answered slowly never holds up the others.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gnutls/gnutls.h>

#include "request_record.h"
#include "trapper_answer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string listen;
  std::string record_path;
  trapper::Fault fault = trapper::Fault::none;
  std::chrono::milliseconds slow_interval{20};
  std::string psk_identity;
  std::string psk_file;
};

struct Connection {
  enum class Phase { handshaking, reading, answering, holding };
  int fd = -1;
  gnutls_session_t tls = nullptr;  // null in clear text
  Phase phase = Phase::reading;
  std::string received;
  trapper::Answer answer;
  std::size_t written = 0;
  Clock::time_point next_byte{};
};

struct Server {
  Options options;
  int listener = -1;
  std::FILE* record = nullptr;
  bool unflushed = false;
  std::vector<Connection> connections;
  std::string psk_key;  // raw bytes, empty in clear text
  gnutls_psk_server_credentials_t psk = nullptr;
  gnutls_priority_t priorities = nullptr;
};

// The priorities of the collector, which are those of Zabbix itself.
constexpr const char* kPriorities =
    "NONE:+VERS-TLS1.2:+VERS-TLS1.3:+ECDHE-PSK:+PSK:+AES-128-GCM:+AES-128-CBC:+AEAD:+SHA256:+SHA1:"
    "+CURVE-ALL:+COMP-NULL:+SIGN-ALL:+CTYPE-X.509";

Server* the_server = nullptr;  // for the key callback, which GnuTLS gives no context

volatile sig_atomic_t stop_requested = 0;

extern "C" void on_stop_signal(int) { stop_requested = 1; }

[[noreturn]] void fail(const std::string& problem, int status) {
  std::fprintf(stderr, "zabbix-trapper-standin: %s\n", problem.c_str());
  std::exit(status);
}

Options parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string flag = argv[i];
    if (i + 1 >= argc) fail("missing value after " + flag, 2);
    std::string value = argv[++i];
    if (flag == "--listen") {
      options.listen = value;
    } else if (flag == "--record") {
      options.record_path = value;
    } else if (flag == "--fault") {
      auto fault = trapper::parse_fault(value);
      if (!fault) fail("unknown fault mode " + value, 2);
      options.fault = *fault;
    } else if (flag == "--tls-psk-identity") {
      options.psk_identity = value;
    } else if (flag == "--tls-psk-file") {
      options.psk_file = value;
    } else if (flag == "--slow-ms") {
      options.slow_interval = std::chrono::milliseconds(std::atoi(value.c_str()));
    } else {
      fail("unknown option " + flag, 2);
    }
  }
  if (options.listen.empty()) fail("--listen HOST:PORT is required", 2);
  if (options.psk_identity.empty() != options.psk_file.empty()) {
    fail("--tls-psk-identity and --tls-psk-file go together", 2);
  }
  return options;
}

std::string read_psk_key(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (!file) fail("cannot read " + path + ": " + std::strerror(errno), 1);
  std::string hex;
  for (int c; (c = std::fgetc(file)) != EOF;) {
    if (!std::isspace(c)) hex.push_back(static_cast<char>(c));
  }
  std::fclose(file);
  std::string key(hex.size() / 2, '\0');
  for (std::size_t i = 0; i < key.size(); ++i) {
    key[i] = static_cast<char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  }
  if (key.empty() || hex.size() % 2 != 0) fail("no key in " + path, 1);
  return key;
}

extern "C" int psk_for(gnutls_session_t, const char* identity, gnutls_datum_t* key) {
  if (the_server->options.psk_identity != identity) return -1;
  const std::string& bytes = the_server->psk_key;
  key->data = static_cast<unsigned char*>(gnutls_malloc(bytes.size()));
  std::memcpy(key->data, bytes.data(), bytes.size());
  key->size = static_cast<unsigned>(bytes.size());
  return 0;
}

void set_up_psk(Server& server) {
  server.psk_key = read_psk_key(server.options.psk_file);
  the_server = &server;
  if (gnutls_psk_allocate_server_credentials(&server.psk) < 0 ||
      gnutls_priority_init(&server.priorities, kPriorities, nullptr) < 0) {
    fail("cannot set up TLS with PSK", 1);
  }
  gnutls_psk_set_server_credentials_function(server.psk, psk_for);
}

// Reads what the client sent: the byte count, 0 when it closed or failed, -1 when nothing is
// there yet.
ssize_t receive_some(Connection& connection, char* buffer, std::size_t size) {
  if (!connection.tls) {
    for (;;) {
      ssize_t received = recv(connection.fd, buffer, size, 0);
      if (received < 0 && errno == EINTR) continue;
      if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return -1;
      return received < 0 ? 0 : received;
    }
  }
  for (;;) {
    ssize_t received = gnutls_record_recv(connection.tls, buffer, size);
    if (received == GNUTLS_E_INTERRUPTED) continue;
    if (received == GNUTLS_E_AGAIN) return -1;
    return received < 0 ? 0 : received;
  }
}

// Writes some of an answer: the byte count, 0 when nothing could go yet, -1 on failure.
ssize_t send_some(Connection& connection, const char* bytes, std::size_t size) {
  ssize_t sent = connection.tls ? gnutls_record_send(connection.tls, bytes, size)
                                : send(connection.fd, bytes, size, MSG_NOSIGNAL);
  if (connection.tls) {
    if (sent == GNUTLS_E_AGAIN || sent == GNUTLS_E_INTERRUPTED) return 0;
    return sent < 0 ? -1 : sent;
  }
  if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
  return sent;
}

// Listens on "v4:port" or "[v6]:port"; port 0 lets the system choose.
int open_listener(const std::string& address) {
  std::string host;
  std::string port;
  auto colon = address.rfind(':');
  if (colon == std::string::npos) fail("--listen needs HOST:PORT, got " + address, 2);
  host = address.substr(0, colon);
  port = address.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    fail("cannot listen on " + address + ": " + gai_strerror(rc), 1);
  }
  int fd = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (fd < 0 || bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, 4096) != 0) {
    fail("cannot listen on " + address + ": " + std::strerror(errno), 1);
  }
  freeaddrinfo(found);
  return fd;
}

unsigned listening_port(int fd) {
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  if (bound.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
  }
  return ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

void close_connection(Connection& connection, bool reset) {
  if (connection.tls) {
    // A close_notify when the socket takes it at once, as a server that says goodbye and goes.
    if (!reset) gnutls_bye(connection.tls, GNUTLS_SHUT_WR);
    gnutls_deinit(connection.tls);
    connection.tls = nullptr;
  }
  if (reset) {
    linger abort_on_close{1, 0};
    setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  }
  close(connection.fd);
  connection.fd = -1;
}

// Records what arrived and settles how the connection is answered; the answer itself waits
// until the record is flushed.
void settle(Server& server, Connection& connection, std::string_view raw,
            const nlohmann::ordered_json& request, trapper::Answer answer) {
  if (server.record) {
    std::string line = trapper::record_line(raw, request);
    std::fwrite(line.data(), 1, line.size(), server.record);
    server.unflushed = true;
  }
  connection.answer = std::move(answer);
  connection.phase = Connection::Phase::answering;
}

const nlohmann::ordered_json kNotJson =
    nlohmann::ordered_json(nlohmann::ordered_json::value_t::discarded);

void read_request(Server& server, Connection& connection) {
  char buffer[65536];
  for (;;) {
    ssize_t received = receive_some(connection, buffer, sizeof buffer);
    if (received < 0) return;
    if (received == 0) {  // closed or reset before a whole frame came
      if (connection.received.empty()) {
        close_connection(connection, false);
      } else {
        settle(server, connection, connection.received, kNotJson, {});
      }
      return;
    }
    connection.received.append(buffer, static_cast<std::size_t>(received));
    std::size_t frame_size = 0;
    auto status = trapper::scan_frame(connection.received, frame_size);
    if (status == trapper::FrameStatus::not_protocol) {
      settle(server, connection, connection.received, kNotJson, {});
      return;
    }
    if (status == trapper::FrameStatus::complete) {
      std::string_view frame = std::string_view(connection.received).substr(0, frame_size);
      nlohmann::ordered_json request = trapper::decode_body(frame);
      settle(server, connection, frame, request,
             trapper::answer_for(request, server.options.fault));
      return;
    }
  }
}

void write_answer(const Server& server, Connection& connection, Clock::time_point now) {
  const std::string& bytes = connection.answer.bytes;
  while (connection.written < bytes.size()) {
    std::size_t chunk = bytes.size() - connection.written;
    if (connection.answer.slow) {
      if (now < connection.next_byte) return;
      chunk = 1;
    }
    ssize_t sent = send_some(connection, bytes.data() + connection.written, chunk);
    if (sent <= 0) {
      if (sent < 0) close_connection(connection, false);
      return;
    }
    connection.written += static_cast<std::size_t>(sent);
    if (connection.answer.slow) {
      connection.next_byte = now + server.options.slow_interval;
      if (connection.written < bytes.size()) return;
    }
  }
  switch (connection.answer.then) {
    case trapper::Answer::Then::close:
      close_connection(connection, false);
      break;
    case trapper::Answer::Then::reset:
      close_connection(connection, true);
      break;
    case trapper::Answer::Then::hold:
      connection.phase = Connection::Phase::holding;
      break;
  }
}

// A held connection stays open until its client goes away.
void drain_held(Connection& connection) {
  char buffer[4096];
  if (receive_some(connection, buffer, sizeof buffer) == 0) close_connection(connection, false);
}

// A failed handshake ends the connection with GnuTLS's alert for the reason, as a server that
// refuses the key does; the client gets no frame.
void handshake(Server& server, Connection& connection) {
  int rc = gnutls_handshake(connection.tls);
  if (rc == GNUTLS_E_SUCCESS) {
    connection.phase = Connection::Phase::reading;
    read_request(server, connection);
  } else if (gnutls_error_is_fatal(rc)) {
    gnutls_alert_send_appropriate(connection.tls, rc);
    gnutls_deinit(connection.tls);
    connection.tls = nullptr;
    close_connection(connection, false);
  }
}

void start_tls(Server& server, Connection& connection) {
  gnutls_init(&connection.tls, GNUTLS_SERVER | GNUTLS_NONBLOCK | GNUTLS_NO_SIGNAL);
  gnutls_priority_set(connection.tls, server.priorities);
  gnutls_credentials_set(connection.tls, GNUTLS_CRD_PSK, server.psk);
  gnutls_transport_set_int(connection.tls, connection.fd);
  gnutls_handshake_set_timeout(connection.tls, GNUTLS_INDEFINITE_TIMEOUT);
  connection.phase = Connection::Phase::handshaking;
  handshake(server, connection);
}

// A client writes its request right after connecting, so a new connection is read at once
// instead of waiting for the next round of poll.
void accept_all(Server& server) {
  for (;;) {
    int fd = accept4(server.listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    Connection connection;
    connection.fd = fd;
    server.connections.push_back(std::move(connection));
    if (server.psk) {
      start_tls(server, server.connections.back());
    } else {
      read_request(server, server.connections.back());
    }
  }
}

int poll_events(const Server& server, std::vector<pollfd>& fds, Clock::time_point now) {
  fds.clear();
  fds.push_back({server.listener, POLLIN, 0});
  int timeout_ms = -1;
  for (const auto& connection : server.connections) {
    short events = POLLIN;
    if (connection.tls && gnutls_record_get_direction(connection.tls) == 1) events = POLLOUT;
    if (connection.phase == Connection::Phase::answering) {
      events = POLLOUT;
      if (connection.answer.slow && connection.next_byte > now) {
        events = 0;
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(connection.next_byte - now);
        int wait_ms = static_cast<int>(wait.count());
        timeout_ms = timeout_ms < 0 ? wait_ms : std::min(timeout_ms, wait_ms);
      }
    }
    fds.push_back({connection.fd, events, 0});
  }
  return timeout_ms;
}

void serve(Server& server, const sigset_t& run_mask) {
  std::vector<pollfd> fds;
  while (!stop_requested) {
    int timeout_ms = poll_events(server, fds, Clock::now());
    timespec timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1'000'000L};
    int ready = ppoll(fds.data(), fds.size(), timeout_ms < 0 ? nullptr : &timeout, &run_mask);
    if (ready < 0) {
      if (errno == EINTR) continue;
      fail(std::string("poll failed: ") + std::strerror(errno), 1);
    }
    std::size_t existing = server.connections.size();
    for (std::size_t i = 0; i < existing; ++i) {
      auto& connection = server.connections[i];
      if (fds[i + 1].revents == 0) continue;
      if (connection.phase == Connection::Phase::handshaking) handshake(server, connection);
      if (connection.phase == Connection::Phase::reading) read_request(server, connection);
      if (connection.phase == Connection::Phase::holding) drain_held(connection);
    }
    if (fds[0].revents & POLLIN) accept_all(server);

    if (server.unflushed) {
      std::fflush(server.record);
      server.unflushed = false;
    }
    auto now = Clock::now();
    for (auto& connection : server.connections) {
      if (connection.fd >= 0 && connection.phase == Connection::Phase::answering) {
        write_answer(server, connection, now);
      }
    }
    std::erase_if(server.connections, [](const Connection& c) { return c.fd < 0; });
  }
}

}  // namespace

int main(int argc, char** argv) {
  Server server;
  server.options = parse_options(argc, argv);

  // SIGTERM and SIGINT are only let in while the loop waits in ppoll(), so that a stop request
  // can never slip in between the test of the flag and the wait.
  sigset_t stop_signals;
  sigset_t run_mask;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  sigprocmask(SIG_BLOCK, &stop_signals, &run_mask);
  sigdelset(&run_mask, SIGTERM);
  sigdelset(&run_mask, SIGINT);
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!server.options.record_path.empty()) {
    server.record = std::fopen(server.options.record_path.c_str(), "w");
    if (!server.record) {
      fail("cannot write " + server.options.record_path + ": " + std::strerror(errno), 1);
    }
    std::setvbuf(server.record, nullptr, _IOFBF, 1 << 20);
  }
  if (!server.options.psk_file.empty()) set_up_psk(server);
  server.listener = open_listener(server.options.listen);
  std::printf("%u\n", listening_port(server.listener));
  std::fflush(stdout);

  serve(server, run_mask);

  if (server.record) std::fclose(server.record);
  for (auto& connection : server.connections) close(connection.fd);
  return 0;
}
