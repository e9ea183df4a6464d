// append_ascii_json_string against Python's json.dumps with ensure_ascii: the literal is pure
// printable ASCII, its only escapes are \" \\ \n \r \t \b \f and \u with four lowercase hex
// digits, and nlohmann decodes it to the same text; invalid UTF-8 decodes to the text with
// each bad subsequence as U+FFFD.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "fuzz_check.h"
#include "text/json_text.h"
#include "text/utf8_decode.h"

namespace {

bool is_valid_utf8(const std::string& text) {
  try {
    (void)nlohmann::json(text).dump();  // refuses invalid UTF-8 with type_error 316
    return true;
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
}

bool lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string literal;
  ixc::append_ascii_json_string(literal, input);

  FUZZ_REQUIRE(literal.size() >= 2 && literal.front() == '"' && literal.back() == '"', literal);
  for (std::size_t i = 1; i + 1 < literal.size(); ++i) {
    char c = literal[i];
    FUZZ_REQUIRE(c >= 0x20 && c <= 0x7e && c != '"', literal);
    if (c != '\\') continue;
    char kind = literal[++i];
    if (kind == 'u') {
      FUZZ_REQUIRE(i + 4 < literal.size(), literal);
      for (int k = 1; k <= 4; ++k) FUZZ_REQUIRE(lower_hex(literal[i + k]), literal);
      i += 4;
    } else {
      FUZZ_REQUIRE(std::string_view("\"\\nrtbf").find(kind) != std::string_view::npos, literal);
    }
  }

  std::string expected;
  if (is_valid_utf8(input)) {
    expected = input;
  } else {
    for (std::size_t pos = 0; pos < input.size();) {
      ixc::append_utf8(expected, ixc::next_code_point(input, pos));
    }
  }
  nlohmann::json decoded = nlohmann::json::parse(literal, nullptr, false);
  FUZZ_REQUIRE(decoded.is_string() && decoded.get<std::string>() == expected, literal);
  return 0;
}
