#include "questdb_standin/server_options.h"

#include <arpa/inet.h>

#include <charconv>
#include <string_view>

namespace ixc::standin {

const char kUsage[] =
    "usage: questdb-standin --address 127.x.y.z [--port N]... [--user U --password P]\n"
    "                       [--exec-fault MODE] [--write-fault MODE] [--server-version 8|9]\n"
    "       MODE: hang | drop | garbage | badhttp | slow | reject\n";

namespace {

Fault fault_from_name(const std::string& name) {
  if (name == "hang") return Fault::Hang;
  if (name == "drop") return Fault::Drop;
  if (name == "garbage") return Fault::Garbage;
  if (name == "badhttp") return Fault::BadHttp;
  if (name == "slow") return Fault::Slow;
  if (name == "reject") return Fault::Reject;
  throw UsageError("unknown fault mode: " + name);
}

int port_from_text(const std::string& text) {
  int port = -1;
  auto result = std::from_chars(text.data(), text.data() + text.size(), port);
  if (result.ec != std::errc{} || result.ptr != text.data() + text.size() || port < 0 ||
      port > 65535) {
    throw UsageError("not a port number: " + text);
  }
  return port;
}

bool is_loopback(const std::string& address) {
  in_addr parsed{};
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return false;
  return (ntohl(parsed.s_addr) >> 24) == 127;
}

}  // namespace

ServerOptions parse_options(const std::vector<std::string>& arguments) {
  ServerOptions options;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& flag = arguments[i];
    if (i + 1 >= arguments.size()) throw UsageError("missing value after " + flag);
    const std::string& value = arguments[++i];
    if (flag == "--address") {
      options.address = value;
    } else if (flag == "--port") {
      options.ports.push_back(port_from_text(value));
    } else if (flag == "--user") {
      options.user = value;
    } else if (flag == "--password") {
      options.password = value;
    } else if (flag == "--exec-fault") {
      options.exec_fault = fault_from_name(value);
    } else if (flag == "--write-fault") {
      options.write_fault = fault_from_name(value);
    } else if (flag == "--server-version") {
      if (value != "8" && value != "9") throw UsageError("server version is 8 or 9: " + value);
      options.version = value == "8" ? ServerVersion::V8 : ServerVersion::V9;
    } else {
      throw UsageError("unknown option: " + flag);
    }
  }
  if (options.address.empty()) throw UsageError("--address is required");
  if (!is_loopback(options.address)) {
    throw UsageError("not a loopback IPv4 address (127.x.y.z): " + options.address);
  }
  if (options.ports.empty()) options.ports.push_back(9000);
  return options;
}

}  // namespace ixc::standin
