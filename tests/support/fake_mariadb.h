#pragma once
/// MariaDB servers that misbehave, for tests that watch the collector meet them. Each listens on
/// 127.0.0.1 at a port of the system's choosing and is served by threads of the test program
/// until the value goes out of scope, which closes every connection it holds.
///
///   Silent        accepts and never sends a byte
///   HalfGreeting  sends the first half of a real server's greeting, then closes
///   TlsSilent     sends a whole greeting that offers TLS, then never answers the TLS handshake
///   Garbage       answers with bytes of another protocol (an SSH banner), then closes
///   Trickle       a proxy to a real server that passes the server's bytes on one at a time,
///                 `delay` apart; the client's bytes go through at once
///   CutReply      a proxy that passes the login through and closes both sides in the middle of
///                 the reply to the first statement
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "support/loopback_socket.h"

namespace ixc::test {

enum class FakeMode { Silent, HalfGreeting, TlsSilent, Garbage, Trickle, CutReply };

struct FakeMariaDbOptions {
  FakeMode mode = FakeMode::Silent;
  std::uint16_t upstream_port = 0;  // the real server on 127.0.0.1, for the proxies
  std::chrono::milliseconds delay{0};
};

class FakeMariaDb {
 public:
  explicit FakeMariaDb(const FakeMariaDbOptions& options);
  ~FakeMariaDb();
  FakeMariaDb(const FakeMariaDb&) = delete;
  FakeMariaDb& operator=(const FakeMariaDb&) = delete;

  std::uint16_t port() const { return listener_.port; }

 private:
  void accept_loop();
  void serve(int client);

  FakeMariaDbOptions options_;
  LoopbackSocket listener_{true};
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

}  // namespace ixc::test
