#include "zabbix_trapper/server_options.h"

#include <cstdlib>

namespace trapper {

ServerOptions parse_options(const std::vector<std::string>& arguments) {
  ServerOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& flag = arguments[i];
    if (i + 1 >= arguments.size()) throw UsageError("missing value after " + flag);
    const std::string& value = arguments[++i];
    if (flag == "--listen") {
      options.listen = value;
    } else if (flag == "--record") {
      options.record_path = value;
    } else if (flag == "--fault") {
      auto fault = parse_fault(value);
      if (!fault) throw UsageError("unknown fault mode " + value);
      options.fault = *fault;
    } else if (flag == "--tls-psk-identity") {
      options.psk_identity = value;
    } else if (flag == "--tls-psk-file") {
      options.psk_file = value;
    } else if (flag == "--slow-ms") {
      options.slow_interval = std::chrono::milliseconds(std::atoi(value.c_str()));
    } else {
      throw UsageError("unknown option " + flag);
    }
  }
  if (options.listen.empty()) throw UsageError("--listen HOST:PORT is required");
  if (options.psk_identity.empty() != options.psk_file.empty()) {
    throw UsageError("--tls-psk-identity and --tls-psk-file go together");
  }
  return options;
}

}  // namespace trapper
