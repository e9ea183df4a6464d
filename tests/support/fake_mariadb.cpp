#include "support/fake_mariadb.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <string_view>

namespace ixc::test {
namespace {

using namespace std::chrono_literals;

// How often a waiting thread looks whether the fake is being stopped.
constexpr int kStopCheckMs = 50;

// What a MariaDB 10.11 server sends first: protocol 10, its version, a connection id, the
// scramble and the capabilities, in one packet (3-byte length, sequence 0). With `tls`, the
// capabilities include CLIENT_SSL, as a server with a certificate sends them.
std::string server_greeting(bool tls = false) {
  std::string payload;
  payload.push_back('\x0a');
  payload.append("5.5.5-10.11.6-MariaDB-0+deb12u1");
  payload.push_back('\0');
  payload.append("\x2a\x00\x00\x00", 4);  // connection id
  payload.append("abcdefgh");             // scramble, first part
  payload.push_back('\0');
  payload.append(tls ? "\xfe\xff" : "\xfe\xf7", 2);  // capabilities, low half
  payload.push_back('\x2d');                         // utf8mb4_general_ci
  payload.append("\x02\x00", 2);                     // status: autocommit
  payload.append("\xff\x81", 2);                     // capabilities, high half
  payload.push_back('\x15');                         // scramble length
  payload.append(6, '\0');
  payload.append("\x1d\x00\x00\x00", 4);  // MariaDB's extended capabilities
  payload.append("ijklmnopqrst");         // scramble, second part
  payload.push_back('\0');
  payload.append("mysql_native_password");
  payload.push_back('\0');
  std::string packet;
  packet.push_back(static_cast<char>(payload.size() & 0xff));
  packet.push_back(static_cast<char>((payload.size() >> 8) & 0xff));
  packet.push_back('\0');
  packet.push_back('\0');
  return packet + payload;
}

constexpr std::string_view kSshBanner = "SSH-2.0-OpenSSH_9.2p1 Debian-2+deb12u3\r\n";

bool send_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

int connect_upstream(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  int yes = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  return fd;
}

// Watches the client's packets for the first statement (COM_QUERY: sequence 0, command 3).
struct StatementWatch {
  std::string pending;
  bool seen = false;
  void feed(std::string_view bytes) {
    pending.append(bytes);
    while (!seen && pending.size() >= 4) {
      std::size_t length = static_cast<unsigned char>(pending[0]) |
                           static_cast<unsigned char>(pending[1]) << 8 |
                           static_cast<unsigned char>(pending[2]) << 16;
      if (pending.size() < 4 + length) return;
      seen = pending[3] == 0 && length > 0 && pending[4] == '\x03';
      pending.erase(0, 4 + length);
    }
  }
};

}  // namespace

FakeMariaDb::FakeMariaDb(const FakeMariaDbOptions& options) : options_(options) {
  acceptor_ = std::thread([this] { accept_loop(); });
}

FakeMariaDb::~FakeMariaDb() {
  stopping_ = true;
  acceptor_.join();
  for (std::thread& connection : connections_) connection.join();
}

void FakeMariaDb::accept_loop() {
  while (!stopping_) {
    pollfd entry{listener_.fd, POLLIN, 0};
    if (::poll(&entry, 1, kStopCheckMs) <= 0) continue;
    int client = ::accept4(listener_.fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    int yes = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    std::lock_guard lock(mutex_);
    connections_.emplace_back([this, client] {
      serve(client);
      ::close(client);
    });
  }
}

void FakeMariaDb::serve(int client) {
  if (options_.mode == FakeMode::HalfGreeting) {
    std::string greeting = server_greeting();
    send_all(client, std::string_view(greeting).substr(0, greeting.size() / 2));
    return;
  }
  if (options_.mode == FakeMode::Garbage) {
    send_all(client, kSshBanner);
    return;
  }
  if (options_.mode == FakeMode::Silent || options_.mode == FakeMode::TlsSilent) {
    if (options_.mode == FakeMode::TlsSilent && !send_all(client, server_greeting(true))) return;
    char sink[4096];
    while (!stopping_) {
      pollfd entry{client, POLLIN, 0};
      if (::poll(&entry, 1, kStopCheckMs) > 0 && ::recv(client, sink, sizeof sink, 0) <= 0) return;
    }
    return;
  }

  int upstream = connect_upstream(options_.upstream_port);
  if (upstream < 0) return;
  std::string to_client;  // the server's bytes not yet passed on
  StatementWatch watch;
  std::size_t cut_budget = 7;  // bytes of the statement's reply let through before the cut
  auto last_byte = std::chrono::steady_clock::now();
  while (!stopping_) {
    pollfd entries[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
    int wait_ms = kStopCheckMs;
    if (!to_client.empty()) {
      auto due = last_byte + options_.delay - std::chrono::steady_clock::now();
      wait_ms =
          std::max(0, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(due).count()));
    }
    ::poll(entries, 2, wait_ms);
    char buffer[16384];
    if (entries[0].revents) {
      ssize_t received = ::recv(client, buffer, sizeof buffer, 0);
      if (received <= 0) break;
      watch.feed(std::string_view(buffer, static_cast<std::size_t>(received)));
      if (!send_all(upstream, std::string_view(buffer, static_cast<std::size_t>(received)))) break;
    }
    if (entries[1].revents) {
      ssize_t received = ::recv(upstream, buffer, sizeof buffer, 0);
      if (received <= 0) break;
      to_client.append(buffer, static_cast<std::size_t>(received));
    }
    if (options_.mode == FakeMode::CutReply) {
      if (watch.seen) {
        std::size_t passed = std::min(cut_budget, to_client.size());
        send_all(client, std::string_view(to_client).substr(0, passed));
        to_client.erase(0, passed);
        cut_budget -= passed;
        if (cut_budget == 0) break;
      } else if (!send_all(client, to_client)) {
        break;
      } else {
        to_client.clear();
      }
    } else if (!to_client.empty() &&
               std::chrono::steady_clock::now() >= last_byte + options_.delay) {
      if (!send_all(client, std::string_view(to_client).substr(0, 1))) break;
      to_client.erase(0, 1);
      last_byte = std::chrono::steady_clock::now();
    }
  }
  ::close(upstream);
}

}  // namespace ixc::test
