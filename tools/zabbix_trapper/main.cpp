// A local stand-in for a Zabbix 6.0 trapper, for tests, the demo and the benchmark.
//
//   zabbix-trapper-standin --listen 127.0.0.1:0 [--record FILE] [--fault MODE] [--slow-ms N]
//
// It prints the port it listens on as the first line of stdout, then reads one request frame
// per connection, records it to FILE (one JSON line each) and answers as trapper_answer.h
// says. A record is on file before its connection sees any answer, so a client that has its
// reply can read the record at once. SIGTERM or SIGINT ends it.
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
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "request_record.h"
#include "trapper_answer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string listen;
  std::string record_path;
  trapper::Fault fault = trapper::Fault::none;
  std::chrono::milliseconds slow_interval{20};
};

struct Connection {
  enum class Phase { reading, answering, holding };
  int fd = -1;
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
};

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
    } else if (flag == "--slow-ms") {
      options.slow_interval = std::chrono::milliseconds(std::atoi(value.c_str()));
    } else {
      fail("unknown option " + flag, 2);
    }
  }
  if (options.listen.empty()) fail("--listen HOST:PORT is required", 2);
  return options;
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
    ssize_t received = recv(connection.fd, buffer, sizeof buffer, 0);
    if (received < 0 && errno == EINTR) continue;
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (received <= 0) {  // closed or reset before a whole frame came
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
    ssize_t sent = send(connection.fd, bytes.data() + connection.written, chunk, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        close_connection(connection, false);
      }
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
  ssize_t received = recv(connection.fd, buffer, sizeof buffer, 0);
  if (received == 0 || (received < 0 && errno != EAGAIN && errno != EINTR)) {
    close_connection(connection, false);
  }
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
    read_request(server, server.connections.back());
  }
}

int poll_events(const Server& server, std::vector<pollfd>& fds, Clock::time_point now) {
  fds.clear();
  fds.push_back({server.listener, POLLIN, 0});
  int timeout_ms = -1;
  for (const auto& connection : server.connections) {
    short events = POLLIN;
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
  server.listener = open_listener(server.options.listen);
  std::printf("%u\n", listening_port(server.listener));
  std::fflush(stdout);

  serve(server, run_mask);

  if (server.record) std::fclose(server.record);
  for (auto& connection : server.connections) close(connection.fd);
  return 0;
}
