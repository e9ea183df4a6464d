// A preload library (LD_PRELOAD) that times the phases of one collection run from outside the
// program: it notes when the program connects to the ERP and closes that connection, opens its
// first and last Zabbix connection (and the two around the discovery document) and its first
// QuestDB connection, starts each HTTP request to QuestDB and gets the first bytes of each answer,
// and gets the answer to its first line-protocol request. The line-protocol connection is the one
// that carries the first "POST /write", so /exec and /write may share a port, as on a real
// server. The shipped program carries no timing code of its own.
//
// Read from the environment:
//   IXC_PHASES_OUT       file that receives key=value lines (nanoseconds since the library loaded)
//   IXC_PHASES_DB_PORT, IXC_PHASES_ZABBIX_PORT, IXC_PHASES_EXEC_PORT, IXC_PHASES_ILP_PORT
//   IXC_PHASES_CAPTURE   optional: file that receives the bodies sent on the first line-protocol
//                        connection (the rows of ixcClientes), one after the other
//
// Each hook costs a clock read and a comparison; the program is single-threaded, so plain
// globals do.
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using ConnectFn = int (*)(int, const sockaddr*, socklen_t);
using CloseFn = int (*)(int);
using SendFn = ssize_t (*)(int, const void*, size_t, int);
using RecvFn = ssize_t (*)(int, void*, size_t, int);

ConnectFn real_connect;
CloseFn real_close;
SendFn real_send;
RecvFn real_recv;

int db_port, zabbix_port, exec_port, ilp_port;
int db_fd = -1, ilp_fd = -1;
bool ilp_done = false;
// Connections to either QuestDB port, and whether a request on each still waits for its answer.
constexpr int kMaxFd = 4096;
bool questdb_fd[kMaxFd], awaiting_answer[kMaxFd];
std::int64_t loaded, db_connect, db_close, zabbix_first, zabbix_last, questdb_first, ilp_connect,
    ilp_answered;
// The discovery document is the seventh value, after the six totals: its connection and the next.
std::int64_t document_sent, document_answered;
long zabbix_connects = 0;
// The requests to QuestDB, each noted when its first bytes leave ("request=at first-line"), and
// the first bytes of each answer ("answer=at").
std::string requests;
const char* capture_path = nullptr;
std::string captured;

std::int64_t now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int env_port(const char* name) {
  const char* text = std::getenv(name);
  return text ? std::atoi(text) : -1;
}

int port_of(const sockaddr* address) {
  if (address->sa_family == AF_INET)
    return ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port);
  if (address->sa_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6*>(address)->sin6_port);
  }
  return -1;
}

void note_once(std::int64_t& slot) {
  if (slot == 0) slot = now();
}

__attribute__((constructor)) void start() {
  real_connect = reinterpret_cast<ConnectFn>(dlsym(RTLD_NEXT, "connect"));
  real_close = reinterpret_cast<CloseFn>(dlsym(RTLD_NEXT, "close"));
  real_send = reinterpret_cast<SendFn>(dlsym(RTLD_NEXT, "send"));
  real_recv = reinterpret_cast<RecvFn>(dlsym(RTLD_NEXT, "recv"));
  db_port = env_port("IXC_PHASES_DB_PORT");
  zabbix_port = env_port("IXC_PHASES_ZABBIX_PORT");
  exec_port = env_port("IXC_PHASES_EXEC_PORT");
  ilp_port = env_port("IXC_PHASES_ILP_PORT");
  capture_path = std::getenv("IXC_PHASES_CAPTURE");
  loaded = now();
}

__attribute__((destructor)) void finish() {
  std::int64_t ended = now();
  const char* path = std::getenv("IXC_PHASES_OUT");
  if (std::FILE* out = path ? std::fopen(path, "w") : nullptr) {
    auto line = [&](const char* key, std::int64_t at) {
      std::fprintf(out, "%s=%lld\n", key, static_cast<long long>(at ? at - loaded : -1));
    };
    line("db_connect", db_connect);
    line("db_close", db_close);
    line("zabbix_first", zabbix_first);
    line("zabbix_last", zabbix_last);
    line("document_sent", document_sent);
    line("document_answered", document_answered);
    line("questdb_first", questdb_first);
    line("ilp_connect", ilp_connect);
    line("ilp_answered", ilp_answered);
    line("exit", ended);
    std::fprintf(out, "zabbix_connects=%ld\n%s", zabbix_connects, requests.c_str());
    std::fclose(out);
  }
  // A large flush goes out as several requests on the one connection: keep only their bodies.
  if (std::FILE* out = capture_path ? std::fopen(capture_path, "w") : nullptr) {
    std::size_t at = 0;
    while (at < captured.size()) {
      std::size_t end = captured.find("\r\n\r\n", at);
      std::size_t length = captured.find("Content-Length: ", at);
      if (end == std::string::npos || length == std::string::npos || length > end) break;
      std::size_t size = std::strtoul(captured.c_str() + length + 16, nullptr, 10);
      std::fwrite(captured.data() + end + 4, 1, std::min(size, captured.size() - end - 4), out);
      at = end + 4 + size;
    }
    std::fclose(out);
  }
}

}  // namespace

extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
  int port = port_of(address);
  if (port == db_port && db_fd < 0) {
    note_once(db_connect);
    db_fd = fd;
  } else if (port == zabbix_port) {
    note_once(zabbix_first);
    zabbix_last = now();
    ++zabbix_connects;
    if (zabbix_connects == 7) document_sent = zabbix_last;
    if (zabbix_connects == 8) document_answered = zabbix_last;
  } else if (port == exec_port || port == ilp_port) {
    note_once(questdb_first);
    if (fd >= 0 && fd < kMaxFd) questdb_fd[fd] = true;
  }
  return real_connect(fd, address, length);
}

extern "C" int close(int fd) {
  if (fd == db_fd) {
    note_once(db_close);
    db_fd = -2;  // a later descriptor with the same number is not the ERP's
  }
  if (fd == ilp_fd) {
    ilp_fd = -1;
    ilp_done = true;
  }
  if (fd >= 0 && fd < kMaxFd) questdb_fd[fd] = awaiting_answer[fd] = false;
  return real_close(fd);
}

extern "C" ssize_t send(int fd, const void* data, size_t size, int flags) {
  std::string_view text(static_cast<const char*>(data), size);
  if (fd >= 0 && fd < kMaxFd && questdb_fd[fd] &&
      (text.starts_with("GET ") || text.starts_with("POST "))) {
    std::int64_t at = now();
    if (ilp_fd < 0 && !ilp_done && text.starts_with("POST /write")) {
      ilp_connect = at;
      ilp_fd = fd;
    }
    awaiting_answer[fd] = true;
    requests += "request=" + std::to_string(at - loaded) + " " +
                std::string(text.substr(0, std::min<std::size_t>(text.find('\r'), 90))) + "\n";
  }
  ssize_t sent = real_send(fd, data, size, flags);
  if (capture_path && fd == ilp_fd && sent > 0) {
    captured.append(static_cast<const char*>(data), static_cast<std::size_t>(sent));
  }
  return sent;
}

extern "C" ssize_t recv(int fd, void* data, size_t size, int flags) {
  ssize_t received = real_recv(fd, data, size, flags);
  if (received <= 0 || fd < 0 || fd >= kMaxFd) return received;
  if (fd == ilp_fd) ilp_answered = now();
  if (awaiting_answer[fd]) {
    awaiting_answer[fd] = false;
    requests += "answer=" + std::to_string(now() - loaded) + "\n";
  }
  return received;
}
