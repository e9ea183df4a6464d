#pragma once
/// Sends one item value to a Zabbix server with the sender (trapper) protocol, one connection
/// per value, and returns the server's reply. The request is the very frame that zabbix_sender
/// writes for the same host, key and value; the value always travels as a JSON string.
///
/// A reply that reports failure ("failed", or failed values in its counts) is returned, not
/// raised. SendError is raised when the address is malformed, the server cannot be reached, or
/// it does not answer in the protocol; its text names the server. A spent run-time limit raises
/// TimeoutException instead.
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestrelkit {

/// Integers go in decimal, doubles as their shortest round-trip text with a fractional digit or
/// an exponent ("150.0", "189.9", "1e-05"), texts as they are.
using ItemValue = std::variant<std::int64_t, double, std::string>;

struct SenderReply {
  std::string response;  // "success" or "failed"
  std::string info;      // "processed: 1; failed: 0; total: 1; seconds spent: 0.000029"
  int processed = 0;     // the counts read from `info`; 0 when it carries none
  int failed = 0;
  int total = 0;
  // A proxy of a 7.0 proxy group that does not monitor the host answers "failed" with the
  // address of the proxy that does: {"redirect":{"revision":1,"address":"10.0.0.7:10051"}}.
  std::string redirect;
};

struct SendError : std::runtime_error {
  using runtime_error::runtime_error;
};

/// How the values travel, as zabbix_sender's --tls-connect, --tls-psk-identity and
/// --tls-psk-file choose: in the clear, or each value in a TLS session of its own.
enum class ZabbixTlsConnect { unencrypted, psk };

struct ZabbixTls {
  ZabbixTlsConnect connect = ZabbixTlsConnect::unencrypted;
  std::string psk_identity;
  std::string psk_file;  // read on the first send of the process, then remembered
};

/// The mode named `text` ("unencrypted", "psk"), else SendError naming the text.
ZabbixTlsConnect parse_zabbix_tls_connect(std::string_view text);

/// Where the values go.
struct ZabbixAddress {
  std::string host;  // a name or an IPv4/IPv6 literal, without brackets
  std::uint16_t port = 10051;
};

/// Reads "host", "host:port", "[ipv6]" or "[ipv6]:port" (vendor/host_port.h); the port is 10051
/// when none is given. Raises SendError naming the text when it is none of those.
ZabbixAddress parse_zabbix_server(std::string_view zabbix_server);

/// Reads the nodes of one cluster as Zabbix's own configuration writes them: addresses as above,
/// separated by ';' ("zabbix-1;zabbix-2:10052"). One address is a cluster of one node.
std::vector<ZabbixAddress> parse_zabbix_cluster(std::string_view zabbix_server);

/// The server as the run is set up to reach it: its nodes, read once for the whole run, and the
/// encryption. Of a cluster only the active node listens; a value goes to the node that took
/// the previous one (`answering`), and when that node's connection is refused or not made
/// within kFailoverConnectBound, to the next one in order, which is then kept. With one node
/// there is no such bound: the connection waits as long as the run may.
struct ZabbixServer {
  std::string address;  // the text as the build gives it
  ZabbixTls tls;
  std::vector<ZabbixAddress> nodes;
  mutable std::size_t answering = 0;  // index into `nodes`; moved by a failover
  // Where a proxy group redirected the run's host; the values go there first from then on.
  mutable std::optional<ZabbixAddress> redirected;
};

inline constexpr std::chrono::milliseconds kFailoverConnectBound{2000};

/// The server at `address` (parse_zabbix_cluster) with `tls`; SendError naming the text when it
/// is malformed.
ZabbixServer zabbix_server_at(std::string_view address, ZabbixTls tls = {});

/// A node of the server that could not be reached at all (its name, its connection): nothing was
/// sent to it.
struct ZabbixNodeUnreachable : SendError {
  using SendError::SendError;
};

/// Reads one whole reply as it arrived, header included; bytes after the frame that the header
/// announces are not looked at. Raises SendError, whose text starts with `where` and stays on
/// one line, when the bytes are not a complete reply of the protocol with a "response" text.
SenderReply parse_sender_reply(std::string_view received, const std::string& where);

/// Delivers `value` under `key` for the Zabbix host `zabbix_host`, failing over between the
/// nodes of a cluster as ZabbixServer says, and following a proxy group's redirect once (to the
/// proxy that monitors the host, kept for the rest of the run); when no node can be reached,
/// SendError names every node tried. A node that answers and refuses the value is no failover. With
/// PSK, the frame is the same inside the session; a key file that cannot be used raises SendError
/// naming the server and the file, a refused handshake SendError naming the server and GnuTLS's
/// reason.
SenderReply send_zabbix(const ZabbixServer& zabbix_server, std::string_view zabbix_host,
                        std::string_view key, const ItemValue& value);

/// Sends `body`, a whole JSON request of the protocol, framed and on a connection of its own
/// as send_zabbix does (failover included), and returns the reply. `{"request":"sender
/// data","data":[]}` asks nothing of the server and is answered "processed: 0; failed: 0; total:
/// 0": a probe.
SenderReply send_sender_request(const ZabbixServer& zabbix_server, std::string_view body);

/// Sends `body` to one node only, without failover: the check job asks each node in turn.
SenderReply send_sender_request(const ZabbixServer& zabbix_server, const ZabbixAddress& node,
                                std::string_view body);

/// The same, unencrypted.
SenderReply send_zabbix(std::string_view zabbix_server, std::string_view zabbix_host,
                        std::string_view key, const ItemValue& value);

}  // namespace kestrelkit
