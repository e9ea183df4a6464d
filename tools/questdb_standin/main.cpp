// questdb-standin: a loopback stand-in for the QuestDB server that the collector talks to,
// answering /exec and /write on every given port. See server_options.h for the command line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "questdb_standin/http_connection.h"
#include "questdb_standin/server_options.h"
#include "questdb_standin/table_store.h"

using namespace ixc::standin;

namespace {

struct Listener {
  int fd;
  int port;  // as bound, so that port 0 reports the one the system chose
};

Listener listen_on(const std::string& address, int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address.c_str(), &where.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || listen(fd, 128) != 0) {
    std::string reason = std::strerror(errno);
    close(fd);
    throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port) + ": " +
                             reason);
  }
  socklen_t size = sizeof where;
  getsockname(fd, reinterpret_cast<sockaddr*>(&where), &size);
  return {fd, ntohs(where.sin_port)};
}

void accept_loop(int listen_fd, const ServerOptions& options, TableStore& store) {
  for (;;) {
    int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOMEM) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      continue;
    }
    int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    // One thread per connection: a connection held by the hang fault must not stop the others.
    std::thread(serve_connection, fd, std::cref(options), std::ref(store)).detach();
  }
}

}  // namespace

int main(int argc, char** argv) {
  ServerOptions options;
  try {
    options = parse_options(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& error) {
    std::fprintf(stderr, "questdb-standin: %s\n%s", error.what(), kUsage);
    return 1;
  }

  // Every thread inherits the blocked signals, so only sigwait below sees SIGTERM and SIGINT.
  signal(SIGPIPE, SIG_IGN);
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  std::vector<Listener> listeners;
  try {
    for (int port : options.ports) listeners.push_back(listen_on(options.address, port));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "questdb-standin: %s\n", error.what());
    return 1;
  }

  static TableStore store;
  std::string line = "listening";
  for (const Listener& listener : listeners) {
    line += " " + options.address + ":" + std::to_string(listener.port);
    std::thread(accept_loop, listener.fd, std::cref(options), std::ref(store)).detach();
  }
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);

  int received = 0;
  sigwait(&stop_signals, &received);
  // Connection threads may be mid-request; leave without running destructors under them.
  std::_Exit(0);
}
