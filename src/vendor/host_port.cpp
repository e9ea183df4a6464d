#include "vendor/host_port.h"

#include <arpa/inet.h>

#include <charconv>

namespace kestrelkit {
namespace {

bool is_name_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

// The longest name DNS can carry.
constexpr std::size_t kMaxNameBytes = 253;

struct Split {
  std::string host;
  std::optional<std::string_view> port;  // the text after the host's ':', when there is one
};

std::optional<Split> split_host(std::string_view text) {
  Split split;
  std::string_view rest;
  if (text.starts_with('[')) {
    std::size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    split.host = std::string(text.substr(1, close - 1));
    in6_addr literal;
    if (inet_pton(AF_INET6, split.host.c_str(), &literal) != 1) return std::nullopt;
    rest = text.substr(close + 1);
  } else {
    std::size_t colon = text.find(':');
    std::string_view name = text.substr(0, colon);
    if (name.empty() || name.size() > kMaxNameBytes) return std::nullopt;
    for (char c : name) {
      if (!is_name_byte(c)) return std::nullopt;
    }
    split.host = std::string(name);
    rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
  }
  if (!rest.empty()) {
    if (rest.front() != ':') return std::nullopt;
    split.port = rest.substr(1);
  }
  return split;
}

}  // namespace

std::optional<std::uint16_t> parse_port(std::string_view text) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  // from_chars alone would take "-1" and leave "+1" to the caller: digits only, first.
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || value == 0 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

std::optional<HostPort> parse_host_port(std::string_view text, std::uint16_t default_port) {
  std::optional<Split> split = split_host(text);
  if (!split) return std::nullopt;
  HostPort address{std::move(split->host), default_port};
  if (split->port) {
    std::optional<std::uint16_t> port = parse_port(*split->port);
    if (!port) return std::nullopt;
    address.port = *port;
  }
  return address;
}

std::optional<std::string> parse_host(std::string_view text) {
  std::optional<Split> split = split_host(text);
  if (!split || split->port) return std::nullopt;
  return std::move(split->host);
}

std::string tcp_peer_text(std::string_view host, std::string_view port) {
  std::string text;
  if (host.find(':') != std::string_view::npos) {
    text.append("[").append(host).append("]");
  } else {
    text.append(host);
  }
  return text.append(":").append(port);
}

std::string tcp_peer_text(std::string_view host, std::uint16_t port) {
  return tcp_peer_text(host, std::to_string(port));
}

}  // namespace kestrelkit
