#include "zabbix_trapper/listener.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "zabbix_trapper/server_options.h"

namespace trapper {

int open_listener(const std::string& address) {
  auto colon = address.rfind(':');
  if (colon == std::string::npos) throw UsageError("--listen needs HOST:PORT, got " + address);
  std::string host = address.substr(0, colon);
  std::string port = address.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    throw std::runtime_error("cannot listen on " + address + ": " + gai_strerror(rc));
  }
  int fd = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int on = 1;
  if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (fd < 0 || bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, 4096) != 0) {
    std::string reason = std::strerror(errno);
    freeaddrinfo(found);
    if (fd >= 0) close(fd);
    throw std::runtime_error("cannot listen on " + address + ": " + reason);
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

}  // namespace trapper
