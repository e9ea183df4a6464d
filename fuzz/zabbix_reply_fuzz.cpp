// The Zabbix sender's reply parser never crashes on what a server sends: it returns a reply
// only for a whole frame ("ZBXD", flags 1, the announced length) whose body is a JSON object
// with a "response" text, and otherwise raises SendError with a text that names the server and
// stays on one line, so that the run's diagnostic is one line whatever the peer sent.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "fuzz_check.h"
#include "vendor/zabbix_sender.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string received(reinterpret_cast<const char*>(data), size);
  const std::string where = "Zabbix 127.0.0.1:10051";
  try {
    kestrelkit::SenderReply reply = kestrelkit::parse_sender_reply(received, where);
    FUZZ_REQUIRE(received.size() >= 13 && received.starts_with("ZBXD\x01"), received);
    std::size_t length = 0;
    for (int i = 3; i >= 0; --i) length = length << 8 | static_cast<unsigned char>(received[5 + i]);
    FUZZ_REQUIRE(received.size() >= 13 + length, received);
    auto body = nlohmann::json::parse(received.substr(13, length));
    FUZZ_REQUIRE(body.at("response").get<std::string>() == reply.response, received);
  } catch (const kestrelkit::SendError& error) {
    std::string text = error.what();
    FUZZ_REQUIRE(text.starts_with(where + ": ") && text.size() > where.size() + 2, text);
    for (char c : text) FUZZ_REQUIRE(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f, text);
  }
  return 0;
}
