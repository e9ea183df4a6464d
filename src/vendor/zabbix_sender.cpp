#include "vendor/zabbix_sender.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

#include "text/excerpt.h"
#include "text/float_repr.h"
#include "text/joined.h"
#include "vendor/runtime_limiter.h"
#include "vendor/tcp_client.h"
#include "vendor/tls_psk.h"

namespace kestrelkit {
namespace {

constexpr std::size_t kHeaderSize = 13;  // "ZBXD", flags, uint32 LE length, 4 reserved bytes
constexpr char kProtocolFlags = 0x01;
constexpr std::size_t kReplyLimit = 64u << 20;  // a real reply is under 100 bytes

SendError malformed_address(std::string_view text) {
  return SendError("Endereço do servidor Zabbix inválido: \"" + std::string(text) +
                   "\" (esperado host, host:porta, [ipv6] ou [ipv6]:porta; os nós de um cluster "
                   "separados por ';')");
}

// Escapes as zabbix_sender does: quote, backslash and the C0 controls only ("/", DEL and
// every byte >= 0x80 pass unchanged, invalid UTF-8 included), so that the server sees the
// same bytes from either sender.
void append_sender_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t run_start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.substr(run_start, i - run_start));
    run_start = i + 1;
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\b':
        out.append("\\b");
        break;
      case '\f':
        out.append("\\f");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      default:
        out.append("\\u00");
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0x0f]);
    }
  }
  out.append(text.substr(run_start));
  out.push_back('"');
}

std::string value_text(const ItemValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* real = std::get_if<double>(&value)) return ixc::float_repr(*real);
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, std::get<std::int64_t>(value)).ptr;
  return std::string(digits, end);
}

void start_frame(std::string& frame) {
  frame.append("ZBXD");
  frame.push_back(kProtocolFlags);
  frame.append(8, '\0');
}

// Writes the body's length into the header; false when it does not fit.
bool finish_frame(std::string& frame) {
  std::size_t length = frame.size() - kHeaderSize;
  if (length > std::numeric_limits<std::uint32_t>::max()) return false;
  for (int i = 0; i < 4; ++i) frame[5 + i] = static_cast<char>((length >> (8 * i)) & 0xff);
  return true;
}

std::string request_frame(std::string_view host, std::string_view key, std::string_view value) {
  std::string frame;
  frame.reserve(kHeaderSize + 72 + host.size() + key.size() + value.size() + value.size() / 8);
  start_frame(frame);
  frame.append(R"({"request":"sender data","data":[{"host":)");
  append_sender_json_string(frame, host);
  frame.append(R"(,"key":)");
  append_sender_json_string(frame, key);
  frame.append(R"(,"value":)");
  append_sender_json_string(frame, value);
  frame.append("}]}");
  if (!finish_frame(frame)) {
    throw SendError("Valor grande demais para o protocolo Zabbix: " +
                    std::to_string(frame.size() - kHeaderSize) + " bytes (chave " +
                    std::string(key) + ")");
  }
  return frame;
}

std::string hex_prefix(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes.substr(0, 8)) {
    if (!text.empty()) text.push_back(' ');
    text.push_back(kHex[c >> 4]);
    text.push_back(kHex[c & 0x0f]);
  }
  return text;
}

// Checks the header as soon as its bytes arrive, so that a peer that speaks another protocol
// is refused at once instead of being waited for. Returns the full frame size once known.
std::size_t check_header(std::string_view reply, const std::string& where) {
  std::string_view magic = reply.substr(0, 4);
  if (std::string_view("ZBXD").substr(0, magic.size()) != magic) {
    throw SendError(where + ": resposta fora do protocolo Zabbix (começa com " + hex_prefix(reply) +
                    ")");
  }
  if (reply.size() < kHeaderSize) return kHeaderSize;
  if (reply[4] != kProtocolFlags) {
    throw SendError(where + ": resposta com flags não suportadas (0x" +
                    hex_prefix(reply.substr(4, 1)) + ")");
  }
  std::size_t length = 0;
  for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(reply[5 + i]);
  if (length > kReplyLimit) {
    throw SendError(where + ": resposta anuncia " + std::to_string(length) +
                    " bytes, acima do limite de 64 MiB");
  }
  return kHeaderSize + length;
}

SendError short_reply(const std::string& where, std::size_t have, std::size_t expected) {
  if (have == 0) return SendError(where + ": conexão fechada sem resposta");
  return SendError(where + ": resposta incompleta (" + std::to_string(have) + " de " +
                   std::to_string(expected) + " bytes antes do fechamento)");
}

// One value's connection, in the clear or inside a TLS session.
struct Link {
  TcpConnection tcp;
  std::optional<TlsSession> tls;
};

void send_all(Link& link, std::string_view bytes) {
  if (link.tls) {
    tls_send_all(*link.tls, bytes);
  } else {
    tcp_send_all(link.tcp, bytes);
  }
}

std::size_t receive(Link& link, char* buffer, std::size_t size) {
  return link.tls ? tls_receive(*link.tls, buffer, size) : tcp_receive(link.tcp, buffer, size);
}

void close(Link& link) {
  if (link.tls) {
    tls_close(*link.tls);
  } else {
    tcp_close(link.tcp);
  }
}

// A run sends hundreds of thousands of values with one identity and key: the file is read for
// the first and its credentials kept for the others. A file that fails is read again next time.
struct RememberedPsk {
  std::string identity;
  std::string file;
  std::optional<PskCredentials> credentials;
};
RememberedPsk remembered_psk;

const PskCredentials& psk_credentials(const ZabbixTls& tls, const std::string& where) {
  RememberedPsk& kept = remembered_psk;  // the one a process has
  if (kept.credentials && kept.identity == tls.psk_identity && kept.file == tls.psk_file) {
    return *kept.credentials;
  }
  kept.credentials.reset();
  try {
    kept.credentials = load_psk_credentials(tls.psk_identity, tls.psk_file);
  } catch (const TlsKeyError& error) {
    throw SendError(where + ": " + error.what());
  }
  kept.identity = tls.psk_identity;
  kept.file = tls.psk_file;
  return *kept.credentials;
}

// Reads until the frame that the header announces is complete.
std::string receive_reply(Link& link, const std::string& where) {
  std::string reply;
  std::size_t expected = kHeaderSize;
  char buffer[4096];
  while (reply.size() < expected) {
    std::size_t received = receive(link, buffer, sizeof buffer);
    if (received == 0) throw short_reply(where, reply.size(), expected);
    reply.append(buffer, received);
    if (expected == kHeaderSize) expected = check_header(reply, where);
  }
  return reply;
}

// The count after `label` in an info text such as "processed: 1; failed: 0; total: 1; ...".
int count_in(std::string_view info, std::string_view label) {
  auto at = info.find(label);
  if (at == std::string_view::npos) return 0;
  const char* digits = info.data() + at + label.size();
  int count = 0;
  std::from_chars(digits, info.data() + info.size(), count);
  return count;
}

SenderReply parse_reply(std::string_view body, const std::string& where) {
  auto json = nlohmann::json::parse(body, nullptr, false);
  if (json.is_discarded() || !json.is_object() || !json.contains("response") ||
      !json["response"].is_string()) {
    // The body is the peer's, whatever it holds: the diagnostic stays one line.
    throw SendError(where + ": resposta sem \"response\" do protocolo Zabbix: " +
                    ixc::one_line_excerpt(body, 200));
  }
  SenderReply reply;
  reply.response = json["response"].get<std::string>();
  if (auto info = json.find("info"); info != json.end() && info->is_string()) {
    reply.info = info->get<std::string>();
  }
  if (auto redirect = json.find("redirect"); redirect != json.end() && redirect->is_object()) {
    if (auto address = redirect->find("address");
        address != redirect->end() && address->is_string()) {
      reply.redirect = address->get<std::string>();
    }
  }
  reply.processed = count_in(reply.info, "processed: ");
  reply.failed = count_in(reply.info, "failed: ");
  reply.total = count_in(reply.info, "total: ");
  return reply;
}

}  // namespace

ZabbixServer zabbix_server_at(std::string_view address, ZabbixTls tls) {
  return {std::string(address), std::move(tls), parse_zabbix_cluster(address), 0, std::nullopt};
}

std::vector<ZabbixAddress> parse_zabbix_cluster(std::string_view text) {
  std::vector<ZabbixAddress> nodes;
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find(';', start);
    std::string_view node = text.substr(start, end == std::string_view::npos ? end : end - start);
    try {
      nodes.push_back(parse_zabbix_server(node));
    } catch (const SendError&) {
      throw malformed_address(text);  // the whole setting, as the operator wrote it
    }
    if (end == std::string_view::npos) return nodes;
    start = end + 1;
  }
}

ZabbixAddress parse_zabbix_server(std::string_view text) {
  std::optional<HostPort> address = parse_host_port(text, 10051);
  if (!address) throw malformed_address(text);
  return {std::move(address->host), address->port};
}

SenderReply parse_sender_reply(std::string_view received, const std::string& where) {
  std::size_t expected = check_header(received, where);
  if (received.size() < expected) throw short_reply(where, received.size(), expected);
  return parse_reply(received.substr(kHeaderSize, expected - kHeaderSize), where);
}

ZabbixTlsConnect parse_zabbix_tls_connect(std::string_view text) {
  if (text == "unencrypted") return ZabbixTlsConnect::unencrypted;
  if (text == "psk") return ZabbixTlsConnect::psk;
  throw SendError("IXC_ZABBIX_TLS_CONNECT \"" + std::string(text) + "\" não é unencrypted nem psk");
}

namespace {

// One connection: the handshake when the server is reached with PSK, the request, the reply.
SenderReply exchange(const ZabbixServer& zabbix_server, const ZabbixAddress& address,
                     const std::string& request, std::chrono::milliseconds connect_bound) {
  std::string where = "Zabbix " + tcp_peer_text(address.host, address.port);
  const PskCredentials* psk = nullptr;
  if (zabbix_server.tls.connect == ZabbixTlsConnect::psk) {
    psk = &psk_credentials(zabbix_server.tls, where);
  }
  Link link;
  try {
    link.tcp = tcp_connect(address.host, address.port, connect_bound);
  } catch (const TcpConnectError& error) {
    throw ZabbixNodeUnreachable("Zabbix " + std::string(error.what()));
  }
  try {
    if (psk) link.tls = tls_psk_handshake(link.tcp, *psk);
    send_all(link, request);
    std::string reply = receive_reply(link, where);
    close(link);
    return parse_sender_reply(reply, where);
  } catch (const TcpError& error) {
    throw SendError("Zabbix " + std::string(error.what()));
  }
}

// The answering node first, then the others in order; the first that takes the connection
// answers for the rest of the run. A standby node in front of the active one so costs one
// refused connection per run, not one per value.
SenderReply deliver_to_nodes(const ZabbixServer& zabbix_server, const std::string& request) {
  const std::vector<ZabbixAddress>& nodes = zabbix_server.nodes;
  if (nodes.size() == 1) return exchange(zabbix_server, nodes[0], request, kUnlimited);
  std::vector<std::string> unreachable;
  for (std::size_t tried = 0; tried < nodes.size(); ++tried) {
    std::size_t node = (zabbix_server.answering + tried) % nodes.size();
    try {
      SenderReply reply = exchange(zabbix_server, nodes[node], request, kFailoverConnectBound);
      zabbix_server.answering = node;
      return reply;
    } catch (const ZabbixNodeUnreachable& error) {
      unreachable.emplace_back(error.what());
    }
  }
  throw SendError("nenhum nó do cluster Zabbix atendeu: " + ixc::joined(unreachable, "; ", "; "));
}

// A proxy group's redirect is followed once per value and remembered for the run: every value
// of a run is for the one host. A redirect target that cannot be reached is forgotten and the
// configured nodes are asked again.
SenderReply deliver(const ZabbixServer& zabbix_server, const std::string& request) {
  if (zabbix_server.redirected) {
    try {
      SenderReply reply =
          exchange(zabbix_server, *zabbix_server.redirected, request, kFailoverConnectBound);
      if (reply.redirect.empty()) return reply;
    } catch (const ZabbixNodeUnreachable&) {
      // The group moved the host or lost that proxy: the configured nodes say where it is now.
    }
    zabbix_server.redirected.reset();
  }
  SenderReply reply = deliver_to_nodes(zabbix_server, request);
  if (reply.redirect.empty()) return reply;
  ZabbixAddress target;
  try {
    target = parse_zabbix_server(reply.redirect);
  } catch (const SendError&) {
    return reply;  // an address we cannot read: the reply stands as the proxy gave it
  }
  SenderReply redirected = exchange(zabbix_server, target, request, kFailoverConnectBound);
  if (redirected.redirect.empty()) zabbix_server.redirected = target;
  return redirected;
}

}  // namespace

SenderReply send_zabbix(const ZabbixServer& zabbix_server, std::string_view zabbix_host,
                        std::string_view key, const ItemValue& value) {
  // A limit that was spent and swallowed higher up must not let one more value through.
  check_time_left();
  return deliver(zabbix_server, request_frame(zabbix_host, key, value_text(value)));
}

namespace {

std::string request_of(std::string_view body) {
  std::string frame;
  start_frame(frame);
  frame.append(body);
  if (!finish_frame(frame)) throw SendError("Pedido grande demais para o protocolo Zabbix");
  return frame;
}

}  // namespace

SenderReply send_sender_request(const ZabbixServer& zabbix_server, std::string_view body) {
  check_time_left();
  return deliver(zabbix_server, request_of(body));
}

SenderReply send_sender_request(const ZabbixServer& zabbix_server, const ZabbixAddress& node,
                                std::string_view body) {
  check_time_left();
  std::chrono::milliseconds bound =
      zabbix_server.nodes.size() == 1 ? kUnlimited : kFailoverConnectBound;
  return exchange(zabbix_server, node, request_of(body), bound);
}

SenderReply send_zabbix(std::string_view zabbix_server, std::string_view zabbix_host,
                        std::string_view key, const ItemValue& value) {
  return send_zabbix(zabbix_server_at(zabbix_server), zabbix_host, key, value);
}

}  // namespace kestrelkit
