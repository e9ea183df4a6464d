#include "support/trapper_standin.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace ixc::test {
namespace {

std::string decode_hex(const std::string& hex) {
  auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
  }
  return bytes;
}

// The first line the stand-in prints is its port; a stand-in that does not print it within a
// few seconds has failed to start.
std::string read_first_line(int fd) {
  std::string text;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (text.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[256];
    ssize_t received = read(fd, buffer, sizeof buffer);
    if (received <= 0) break;
    text.append(buffer, static_cast<std::size_t>(received));
  }
  return text.substr(0, text.find('\n'));
}

}  // namespace

std::string trapper_standin_path() { return std::string(IXC_BIN_DIR) + "/zabbix-trapper-standin"; }

TrapperStandin::TrapperStandin(const TrapperOptions& options) {
  char folder[] = "/tmp/ixc-trapper-XXXXXX";
  if (!mkdtemp(folder)) throw std::runtime_error("mkdtemp failed for the trapper stand-in");
  folder_ = folder;
  record_path_ = folder_ + "/requests.jsonl";

  std::vector<std::string> args = {trapper_standin_path(),
                                   "--listen",
                                   "127.0.0.1:0",
                                   "--record",
                                   record_path_,
                                   "--fault",
                                   options.fault,
                                   "--slow-ms",
                                   std::to_string(options.slow_ms)};
  if (!options.psk_file.empty()) {
    args.insert(args.end(),
                {"--tls-psk-identity", options.psk_identity, "--tls-psk-file", options.psk_file});
  }
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int out_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    stop();
    throw std::runtime_error("pipe failed for the trapper stand-in");
  }
  pid_ = fork();
  if (pid_ < 0) {
    stop();
    throw std::runtime_error("fork failed for the trapper stand-in");
  }
  if (pid_ == 0) {
    dup2(out_pipe[1], STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  stdout_fd_ = out_pipe[0];

  std::string line = read_first_line(stdout_fd_);
  int port = std::atoi(line.c_str());
  if (port <= 0 || port > 65535) {
    stop();
    throw std::runtime_error("trapper stand-in " + args[0] + " did not report its port (got \"" +
                             line + "\")");
  }
  port_ = static_cast<std::uint16_t>(port);
}

TrapperStandin::~TrapperStandin() { stop(); }

void TrapperStandin::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  pid_ = -1;
  if (stdout_fd_ >= 0) close(stdout_fd_);
  stdout_fd_ = -1;
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::string TrapperStandin::address() const { return "127.0.0.1:" + std::to_string(port_); }

std::vector<TrapperRecord> TrapperStandin::records() const {
  std::ifstream file(record_path_, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<TrapperRecord> found;
  // A line without its newline is still being written; it is left for the next reading.
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    auto entry = nlohmann::ordered_json::parse(text.substr(start, end - start));
    found.push_back({decode_hex(entry["raw"].get<std::string>()), entry["request"]});
  }
  return found;
}

}  // namespace ixc::test
