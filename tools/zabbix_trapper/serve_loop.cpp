#include "zabbix_trapper/serve_loop.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

#include "zabbix_trapper/exchange.h"

namespace trapper {
namespace {

volatile sig_atomic_t stop_requested = 0;

extern "C" void on_stop_signal(int) { stop_requested = 1; }

void accept_all(Server& server) {
  for (;;) {
    int fd = accept4(server.listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    Connection connection;
    connection.fd = fd;
    server.connections.push_back(std::move(connection));
    start_exchange(server, server.connections.back());
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

}  // namespace

sigset_t block_stop_signals() {
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
  return run_mask;
}

void serve(Server& server, const sigset_t& run_mask) {
  std::vector<pollfd> fds;
  while (!stop_requested) {
    int timeout_ms = poll_events(server, fds, Clock::now());
    timespec timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1'000'000L};
    int ready = ppoll(fds.data(), fds.size(), timeout_ms < 0 ? nullptr : &timeout, &run_mask);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("poll failed: ") + std::strerror(errno));
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

}  // namespace trapper
