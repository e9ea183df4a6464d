// The sender configuration parser never crashes: it refuses what is not a configuration with
// an IngressError that says so ("Bad sender configuration string: ..."), and what it accepts
// reads the same when written back in the format and parsed again.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "tsdb/line_sender.h"
#include "vendor/host_port.h"

namespace {

std::string escaped(const std::string& value) {
  std::string out;
  for (char c : value) {
    out.push_back(c);
    if (c == ';') out.push_back(';');
  }
  return out;
}

std::string written_back(const ixc::SenderConfig& config) {
  // The inverse of the address parser: an IPv6 literal goes back into its brackets.
  std::string conf =
      "http::addr=" + escaped(kestrelkit::tcp_peer_text(config.host, config.port)) + ";";
  if (!config.username.empty() || !config.password.empty()) {
    conf += "username=" + escaped(config.username) + ";password=" + escaped(config.password) + ";";
  }
  return conf;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string conf(reinterpret_cast<const char*>(data), size);
  ixc::SenderConfig config;
  try {
    config = ixc::parse_sender_conf(conf);
  } catch (const ixc::IngressError& error) {
    std::string text = error.what();
    FUZZ_REQUIRE(text.starts_with("Bad sender configuration string: ") && text.size() > 33, text);
    return 0;
  }
  FUZZ_REQUIRE(conf.starts_with("http::") && !config.host.empty() && config.port > 0, conf);
  std::string again = written_back(config);
  try {
    ixc::SenderConfig reread = ixc::parse_sender_conf(again);
    FUZZ_REQUIRE(reread.host == config.host && reread.port == config.port &&
                     reread.username == config.username && reread.password == config.password,
                 conf + " -> " + again);
  } catch (const ixc::IngressError& error) {
    FUZZ_REQUIRE(false, conf + " -> " + again + ": " + error.what());
  }
  return 0;
}
