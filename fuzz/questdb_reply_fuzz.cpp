// What the program makes of any /exec or /write reply body never crashes: a body that is not
// JSON raises QueryError on one line; a decoded reply is printed on one line; a listing without
// a usable `dataset` raises QueryError on one line; a refused /write is named by the server's
// `message` as it stands, or by its status and the body's start on one line.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "fuzz_check.h"
#include "text/excerpt.h"
#include "text/python_repr.h"
#include "tsdb/line_sender.h"
#include "tsdb/query_client.h"
#include "tsdb/schema.h"

namespace {

void require_one_line(const std::string& text, const std::string& input) {
  FUZZ_REQUIRE(text.find('\n') == std::string::npos && text.find('\r') == std::string::npos,
               input + " -> " + text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose the status.
  const long status = 100 + (data[0] << 8 | data[1]) % 500;
  const std::string body(reinterpret_cast<const char*>(data + 2), size - 2);
  const ixc::HttpReply reply{status, body};

  std::optional<nlohmann::ordered_json> decoded;
  try {
    decoded = ixc::decode_reply("http://127.0.0.1:9000/exec", reply);
  } catch (const ixc::QueryError& error) {
    require_one_line(error.what(), body);
  }
  if (decoded) {
    require_one_line(ixc::python_repr(*decoded), body);
    try {
      const auto& dataset = ixc::dataset_of(decoded, ixc::kClientesTable);
      FUZZ_REQUIRE(dataset.is_array() || dataset.is_object(), body);
    } catch (const ixc::QueryError& error) {
      require_one_line(error.what(), body);
    }
  }

  std::string refusal = ixc::refusal_text(reply);
  auto parsed = nlohmann::json::parse(body, nullptr, false);
  if (parsed.is_object() && parsed.contains("message") && parsed["message"].is_string()) {
    // The server's words, on one line: no forged console line, no terminal escape.
    FUZZ_REQUIRE(refusal == ixc::one_line_excerpt(parsed["message"].get<std::string>(),
                                                  ixc::kShownMessageBytes),
                 body);
    require_one_line(refusal, body);
  } else {
    FUZZ_REQUIRE(refusal.starts_with("HTTP status " + std::to_string(status)), body);
    require_one_line(refusal, body);
  }
  return 0;
}
