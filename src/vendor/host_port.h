#pragma once
/// Host and port texts, read and written by one set of rules for every server the program
/// reaches (the ERP, QuestDB's two endpoints, Zabbix):
///
///   host           a name or an IPv4 literal: letters, digits, '.', '-' and '_'
///   [IPv6]         an IPv6 literal, always in brackets (a bare one hides where its port starts)
///   host:port      either of the above, then a port
///   port           decimal digits only, 1 to 65535
///
/// Anything else - an empty text, a blank, '/', '#', '@', ';', a second ':' - is refused, so that
/// a setting can never reach a URL or a configuration string as something other than an address.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrelkit {

struct HostPort {
  std::string host;  // a name or an IPv4/IPv6 literal, without brackets
  std::uint16_t port = 0;
};

/// "host", "host:port", "[IPv6]" or "[IPv6]:port"; the port is `default_port` when the text
/// gives none. Nothing when the text is none of these.
std::optional<HostPort> parse_host_port(std::string_view text, std::uint16_t default_port);

/// "host" or "[IPv6]" alone: the host without brackets, or nothing.
std::optional<std::string> parse_host(std::string_view text);

/// A port alone, or nothing.
std::optional<std::uint16_t> parse_port(std::string_view text);

/// The inverse of parse_host_port: "host:port", IPv6 literals bracketed. The port as text is
/// kept as the caller wrote it.
std::string tcp_peer_text(std::string_view host, std::uint16_t port);
std::string tcp_peer_text(std::string_view host, std::string_view port);

}  // namespace kestrelkit
