#pragma once
/// A trapper stand-in (tools/zabbix_trapper) run as a child process on 127.0.0.1 with a port
/// of the system's choosing and a record file in a throwaway folder. The constructor returns
/// once it listens; the destructor stops it by its PID and removes the folder. Every request
/// is on record before its client sees an answer, so `records()` may be read right after a send.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace ixc::test {

struct TrapperRecord {
  std::string raw;                 // the bytes received, header included
  nlohmann::ordered_json request;  // the decoded JSON body, null when it was not JSON
};

struct TrapperOptions {
  std::string fault = "none";     // a mode of zabbix-trapper-standin --fault
  int slow_ms = 20;               // the pause between reply bytes under the "slow" fault
  std::string psk_identity = "";  // with psk_file: TLS with this identity and key only
  std::string psk_file = "";
};

class TrapperStandin {
 public:
  explicit TrapperStandin(const TrapperOptions& options = {});
  ~TrapperStandin();
  TrapperStandin(const TrapperStandin&) = delete;
  TrapperStandin& operator=(const TrapperStandin&) = delete;

  std::uint16_t port() const { return port_; }
  /// "127.0.0.1:PORT", as send_zabbix takes it.
  std::string address() const;
  /// Every request recorded so far, in order of arrival.
  std::vector<TrapperRecord> records() const;

 private:
  void stop();

  pid_t pid_ = -1;
  int stdout_fd_ = -1;
  std::uint16_t port_ = 0;
  std::string folder_;
  std::string record_path_;
};

/// The path of the stand-in binary in this build.
std::string trapper_standin_path();

}  // namespace ixc::test
