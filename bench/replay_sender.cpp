// replay RECORD HOST PORT: the plainest sender of the Zabbix protocol, as the yardstick for the
// collector's own against a real server. It sends, in order, the very frames that a collection
// run sent (the "raw" bytes of each line of a trapper stand-in's record file), each on a fresh
// blocking TCP connection: connect, write the frame, read until the server closes, close. The
// frames are decoded before the clock starts. Prints one line:
//
//   frames=200007 wall_s=61.2 largest_s=1.31 user_s=0.9 sys_s=8.1 processed=200007 failed=0
//   errors=0
//
// where largest_s is the exchange of the largest frame (the discovery document) and
// processed/failed add up the counts in the server's answers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The bytes of the "raw" member of one record line; empty when the line has none.
std::string raw_frame(const std::string& line) {
  const std::string marker = "\"raw\":\"";
  std::size_t at = line.find(marker);
  if (at == std::string::npos) return {};
  std::string frame;
  for (at += marker.size(); at + 1 < line.size() && line[at] != '"'; at += 2) {
    int high = hex_digit(line[at]);
    int low = hex_digit(line[at + 1]);
    if (high < 0 || low < 0) return {};
    frame.push_back(static_cast<char>(high * 16 + low));
  }
  return frame;
}

// The number after `name` in the server's answer, 0 when absent.
long count_in(const std::string& answer, const char* name) {
  std::size_t at = answer.find(name);
  return at == std::string::npos
             ? 0
             : std::strtol(answer.c_str() + at + std::strlen(name), nullptr, 10);
}

// One exchange; false when the connection could not be made or written.
bool exchange(const sockaddr_in& server, const std::string& frame, std::string& answer) {
  answer.clear();
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0;
  for (std::size_t sent = 0; ok && sent < frame.size();) {
    ssize_t n = send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (n <= 0)
      ok = false;
    else
      sent += static_cast<std::size_t>(n);
  }
  char buffer[4096];
  ssize_t n;
  while (ok && (n = recv(fd, buffer, sizeof buffer, 0)) > 0)
    answer.append(buffer, static_cast<std::size_t>(n));
  close(fd);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: replay RECORD HOST PORT\n");
    return 2;
  }
  std::ifstream record(argv[1]);
  std::vector<std::string> frames;
  for (std::string line; std::getline(record, line);) {
    std::string frame = raw_frame(line);
    if (!frame.empty()) frames.push_back(std::move(frame));
  }
  if (frames.empty()) {
    std::fprintf(stderr, "replay: no frames in %s\n", argv[1]);
    return 2;
  }
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[3])));
  if (inet_pton(AF_INET, argv[2], &server.sin_addr) != 1) {
    std::fprintf(stderr, "replay: %s is not an IPv4 address\n", argv[2]);
    return 2;
  }

  std::size_t largest = 0;
  for (std::size_t i = 1; i < frames.size(); ++i) {
    if (frames[i].size() > frames[largest].size()) largest = i;
  }
  using Clock = std::chrono::steady_clock;
  long processed = 0, failed = 0, errors = 0;
  double largest_s = 0;
  std::string answer;
  auto started = Clock::now();
  for (std::size_t i = 0; i < frames.size(); ++i) {
    auto before = Clock::now();
    if (!exchange(server, frames[i], answer)) ++errors;
    if (i == largest) largest_s = std::chrono::duration<double>(Clock::now() - before).count();
    processed += count_in(answer, "processed: ");
    failed += count_in(answer, "failed: ");
  }
  double wall = std::chrono::duration<double>(Clock::now() - started).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  std::printf(
      "frames=%zu wall_s=%.4f largest_s=%.4f user_s=%.4f sys_s=%.4f processed=%ld failed=%ld "
      "errors=%ld\n",
      frames.size(), wall, largest_s, seconds(usage.ru_utime), seconds(usage.ru_stime), processed,
      failed, errors);
  return errors == 0 ? 0 : 1;
}
