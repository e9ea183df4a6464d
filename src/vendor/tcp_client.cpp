#include "vendor/tcp_client.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <set>
#include <utility>
#include <vector>

#include "vendor/runtime_limiter.h"

namespace kestrelkit {
namespace {

struct Address {
  sockaddr_storage storage{};
  socklen_t length = 0;
};

std::string errno_text(int error) {
  switch (error) {
    case ECONNREFUSED:
      return "conexão recusada";
    case ECONNRESET:
      return "conexão redefinida pelo servidor";
    case EPIPE:
      return "conexão fechada pelo servidor";
    case ETIMEDOUT:
      return "o servidor não respondeu à conexão";
    case EHOSTUNREACH:
      return "servidor inalcançável";
    case ENETUNREACH:
      return "rede inalcançável";
    case ENETDOWN:
      return "rede fora do ar";
    case EADDRNOTAVAIL:
      return "endereço local indisponível (portas efêmeras esgotadas?)";
    case EMFILE:
    case ENFILE:
      return "limite de arquivos abertos atingido";
    default:
      break;
  }
  const char* name = strerrorname_np(error);
  return "erro do sistema " + std::to_string(error) + " (" + (name ? name : "?") + ")";
}

std::string resolver_text(int code) {
  switch (code) {
    case EAI_NONAME:
      return "nome desconhecido";
    case EAI_AGAIN:
      return "falha temporária do serviço de nomes";
    case EAI_FAIL:
      return "falha do serviço de nomes";
    case EAI_NODATA:
      return "o nome não tem endereço";
    case EAI_SYSTEM:
      return errno_text(errno);
    default:
      return gai_strerror(code);
  }
}

// Waits until `fd` is ready for `events`. Returns the events that poll() reported.
short wait_ready(int fd, short events, const std::string& peer) {
  for (;;) {
    pollfd entry{fd, events, 0};
    int ready = ::poll(&entry, 1, poll_timeout_ms());
    if (ready > 0) return entry.revents;
    if (ready < 0 && errno != EINTR) throw TcpError(peer + ": poll: " + errno_text(errno));
  }
}

bool parse_literal(const std::string& host, Address& address) {
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
  if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    address.length = sizeof(sockaddr_in);
    return true;
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
  if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    address.length = sizeof(sockaddr_in6);
    return true;
  }
  return false;
}

// A lookup lives on the heap because glibc cannot stop one that has started: when the limit
// runs out first, its resolver thread still writes into it, so it is left behind.
struct Lookup {
  std::string name;
  addrinfo hints{};
  gaicb request{};
};

std::vector<Address> look_up(const std::string& host, const std::string& peer) {
  auto* lookup = new Lookup;
  lookup->name = host;
  lookup->hints.ai_family = AF_UNSPEC;
  lookup->hints.ai_socktype = SOCK_STREAM;
  lookup->request.ar_name = lookup->name.c_str();
  lookup->request.ar_request = &lookup->hints;
  gaicb* list[] = {&lookup->request};
  if (int started = getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr); started != 0) {
    delete lookup;
    throw TcpError(peer + ": resolução do nome não iniciada: " + resolver_text(started));
  }
  try {
    while (gai_error(&lookup->request) == EAI_INPROGRESS) {
      int ms = poll_timeout_ms();
      timespec wait{ms / 1000, (ms % 1000) * 1'000'000L};
      gai_suspend(list, 1, &wait);
    }
  } catch (const TimeoutException&) {
    if (gai_cancel(&lookup->request) == EAI_CANCELED) delete lookup;
    throw;
  }
  int outcome = gai_error(&lookup->request);
  addrinfo* found = lookup->request.ar_result;
  delete lookup;
  if (outcome != 0) throw TcpError(peer + ": nome não resolvido: " + resolver_text(outcome));

  std::vector<Address> addresses;
  for (addrinfo* entry = found; entry; entry = entry->ai_next) {
    Address address;
    std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
    address.length = entry->ai_addrlen;
    addresses.push_back(address);
  }
  freeaddrinfo(found);
  if (addresses.empty()) throw TcpError(peer + ": nome não resolvido: o nome não tem endereço");
  return addresses;
}

// The collector sends hundreds of thousands of values to one server in one run; resolving its
// name again for each would cost more than the exchange itself.
struct RememberedName {
  std::string host;
  std::vector<Address> addresses;
};
RememberedName remembered;

constexpr std::chrono::milliseconds kPeerCloseGrace(20);
// The peers (as "host:port") that kept a connection open past the grace after their reply.
std::set<std::string> peer_stays_open;

std::vector<Address> resolve(std::string_view host_view, std::uint16_t port,
                             const std::string& peer) {
  std::string host(host_view);
  std::vector<Address> addresses;
  Address literal;
  if (parse_literal(host, literal)) {
    addresses.push_back(literal);
  } else if (!remembered.addresses.empty() && remembered.host == host) {
    addresses = remembered.addresses;
  } else {
    addresses = look_up(host, peer);
    remembered = {host, addresses};
  }
  for (auto& address : addresses) {
    if (address.storage.ss_family == AF_INET) {
      reinterpret_cast<sockaddr_in*>(&address.storage)->sin_port = htons(port);
    } else {
      reinterpret_cast<sockaddr_in6*>(&address.storage)->sin6_port = htons(port);
    }
  }
  return addresses;
}

// Connects to one address; returns the errno of the failure, or 0.
int connect_one(TcpConnection& connection, const Address& address,
                std::chrono::milliseconds connect_bound) {
  connection.fd =
      ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (connection.fd < 0) {
    throw TcpError(connection.peer + ": socket não criado: " + errno_text(errno));
  }
  if (::connect(connection.fd, reinterpret_cast<const sockaddr*>(&address.storage),
                address.length) == 0) {
    return 0;
  }
  if (errno != EINPROGRESS) return errno;
  short events = 0;
  if (connect_bound >= kUnlimited) {
    events = wait_ready(connection.fd, POLLOUT, connection.peer);
  } else {
    auto deadline = std::chrono::steady_clock::now() + connect_bound;
    for (;;) {
      auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return ETIMEDOUT;
      pollfd entry{connection.fd, POLLOUT, 0};
      int ready = ::poll(&entry, 1, poll_timeout_ms(left));
      if (ready > 0) {
        events = entry.revents;
        break;
      }
      if (ready < 0 && errno != EINTR) return errno;
    }
  }
  // Writable without an error condition means connected; the error is asked for only when
  // there is one, which saves a system call on every value.
  if (!(events & (POLLERR | POLLHUP))) return 0;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(connection.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error != 0 ? error : ECONNREFUSED;
}

}  // namespace

TcpConnection::TcpConnection(TcpConnection&& other) noexcept
    : fd(std::exchange(other.fd, -1)), peer(std::move(other.peer)) {}

TcpConnection& TcpConnection::operator=(TcpConnection&& other) noexcept {
  if (this != &other) {
    if (fd >= 0) ::close(fd);
    fd = std::exchange(other.fd, -1);
    peer = std::move(other.peer);
  }
  return *this;
}

TcpConnection::~TcpConnection() {
  if (fd >= 0) ::close(fd);
}

void tcp_wait(TcpConnection& connection, bool writable) {
  wait_ready(connection.fd, writable ? POLLOUT : POLLIN, connection.peer);
}

std::string tcp_error_text(int error) { return errno_text(error); }

TcpConnection tcp_connect(std::string_view host, std::uint16_t port,
                          std::chrono::milliseconds connect_bound) {
  check_time_left();
  std::string peer = tcp_peer_text(host, port);
  std::vector<Address> addresses;
  try {
    addresses = resolve(host, port, peer);
  } catch (const TcpError& error) {
    throw TcpConnectError(error.what());
  }
  int last_error = 0;
  for (const auto& address : addresses) {
    TcpConnection connection;
    connection.peer = peer;
    last_error = connect_one(connection, address, connect_bound);
    if (last_error == 0) return connection;
  }
  throw TcpConnectError(peer + ": " + errno_text(last_error));
}

void tcp_send_all(TcpConnection& connection, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = ::send(connection.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      wait_ready(connection.fd, POLLOUT, connection.peer);
    } else if (errno != EINTR) {
      throw TcpError(connection.peer + ": falha ao enviar: " + errno_text(errno));
    }
  }
}

std::size_t tcp_receive(TcpConnection& connection, char* buffer, std::size_t size) {
  for (;;) {
    wait_ready(connection.fd, POLLIN, connection.peer);
    ssize_t received = ::recv(connection.fd, buffer, size, 0);
    if (received >= 0) return static_cast<std::size_t>(received);
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      throw TcpError(connection.peer + ": falha ao receber: " + errno_text(errno));
    }
  }
}

std::chrono::milliseconds peer_close_grace(const TcpConnection& connection) {
  return peer_stays_open.contains(connection.peer) ? std::chrono::milliseconds(0) : kPeerCloseGrace;
}

void note_peer_stays_open(const TcpConnection& connection) {
  peer_stays_open.insert(connection.peer);
}

void tcp_close(TcpConnection& connection) {
  if (connection.fd < 0) return;
  char byte;
  ssize_t received = ::recv(connection.fd, &byte, 1, 0);
  if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    std::chrono::milliseconds grace = peer_close_grace(connection);
    pollfd entry{connection.fd, POLLIN, 0};
    if (grace.count() > 0 && ::poll(&entry, 1, poll_timeout_ms(grace)) > 0) {
      received = ::recv(connection.fd, &byte, 1, 0);
    } else if (grace.count() > 0) {
      note_peer_stays_open(connection);
    }
  }
  if (received != 0) {
    linger abort_on_close{1, 0};
    setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  }
  ::close(std::exchange(connection.fd, -1));
}

}  // namespace kestrelkit
