#pragma once
/// The stand-in's command line:
///   zabbix-trapper-standin --listen HOST:PORT [--record FILE] [--fault MODE] [--slow-ms N]
///                          [--tls-psk-identity ID --tls-psk-file FILE]
/// HOST is numeric, an IPv6 one in brackets; port 0 takes a free one. MODE is one of the faults
/// of trapper_answer.h; N is the pause between reply bytes under `slow`. The identity and the key
/// file go together: with them every connection must open with a TLS handshake for that PSK.
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "zabbix_trapper/trapper_answer.h"

namespace trapper {

struct ServerOptions {
  std::string listen;
  std::string record_path;  // empty: nothing is recorded
  Fault fault = Fault::none;
  std::chrono::milliseconds slow_interval{20};
  std::string psk_identity;  // empty: clear text
  std::string psk_file;
};

/// A command line the stand-in cannot run; it ends with status 2, as for any misuse.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

ServerOptions parse_options(const std::vector<std::string>& arguments);

}  // namespace trapper
