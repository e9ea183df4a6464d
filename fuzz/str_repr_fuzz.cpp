// append_str_repr against Python's repr(str): read the literal back as Python would and get
// the text (bad UTF-8 as U+FFFD); the quote is " only for a text with a ' and no "; every
// character that stands as itself is printable, every \x, \u or \U escape stands for one that
// is not, in the shortest of the three forms.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "text/printable.h"
#include "text/python_repr.h"
#include "text/utf8_decode.h"

namespace {

// The value of `width` lowercase hex digits at `at`, or -1.
long hex_value(const std::string& text, std::size_t at, int width) {
  if (at + static_cast<std::size_t>(width) > text.size()) return -1;
  long value = 0;
  for (int k = 0; k < width; ++k) {
    char c = text[at + static_cast<std::size_t>(k)];
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string literal = ixc::str_repr(input);

  bool has_single = input.find('\'') != std::string::npos;
  bool has_double = input.find('"') != std::string::npos;
  char quote = has_single && !has_double ? '"' : '\'';
  FUZZ_REQUIRE(literal.size() >= 2 && literal.front() == quote && literal.back() == quote, literal);

  std::string read_back;
  const std::string body = literal.substr(1, literal.size() - 2);
  for (std::size_t pos = 0; pos < body.size();) {
    std::size_t start = pos;
    char32_t cp = ixc::next_code_point(body, pos);
    // The literal is valid UTF-8: a U+FFFD in it is the character itself, three bytes long.
    FUZZ_REQUIRE(cp != ixc::kReplacementChar || pos - start == 3, literal);
    if (cp != '\\') {
      FUZZ_REQUIRE(ixc::is_printable(cp) && cp != static_cast<char32_t>(quote), literal);
      ixc::append_utf8(read_back, cp);
      continue;
    }
    FUZZ_REQUIRE(pos < body.size(), literal);
    char kind = body[pos++];
    long escaped = -1;
    if (kind == 'x') {
      escaped = hex_value(body, pos, 2);
      pos += 2;
      FUZZ_REQUIRE(escaped >= 0, literal);
    } else if (kind == 'u') {
      escaped = hex_value(body, pos, 4);
      pos += 4;
      FUZZ_REQUIRE(escaped >= 0x100, literal);
    } else if (kind == 'U') {
      escaped = hex_value(body, pos, 8);
      pos += 8;
      FUZZ_REQUIRE(escaped >= 0x10000 && escaped <= 0x10ffff, literal);
    }
    if (escaped >= 0) {
      auto cp_escaped = static_cast<char32_t>(escaped);
      FUZZ_REQUIRE(!ixc::is_printable(cp_escaped) && cp_escaped != '\n' && cp_escaped != '\r' &&
                       cp_escaped != '\t',
                   literal);
      ixc::append_utf8(read_back, cp_escaped);
    } else if (kind == 'n' || kind == 'r' || kind == 't') {
      read_back.push_back(kind == 'n' ? '\n' : kind == 'r' ? '\r' : '\t');
    } else {
      FUZZ_REQUIRE(kind == '\\' || kind == quote, literal);
      read_back.push_back(kind);
    }
  }

  std::string expected;
  for (std::size_t pos = 0; pos < input.size();) {
    ixc::append_utf8(expected, ixc::next_code_point(input, pos));
  }
  FUZZ_REQUIRE(read_back == expected, literal);
  return 0;
}
