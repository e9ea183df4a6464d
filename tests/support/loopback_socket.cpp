#include "support/loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace ixc::test {

LoopbackSocket::LoopbackSocket(bool listening) {
  fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      (listening && ::listen(fd, 16) != 0) ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    std::string reason = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("test socket: no free port on 127.0.0.1: " + reason);
  }
  port = ntohs(address.sin_port);
}

LoopbackSocket::~LoopbackSocket() { ::close(fd); }

std::uint16_t free_loopback_port() { return LoopbackSocket(false).port; }

}  // namespace ixc::test
