#include "text/json_text.h"

#include "text/utf8_decode.h"

namespace ixc {
namespace {

void append_u_escape(std::string& out, char32_t unit) {
  static constexpr char kHex[] = "0123456789abcdef";
  const char escape[6] = {'\\',
                          'u',
                          kHex[(unit >> 12) & 0xF],
                          kHex[(unit >> 8) & 0xF],
                          kHex[(unit >> 4) & 0xF],
                          kHex[unit & 0xF]};
  out.append(escape, sizeof escape);
}

bool passes_unescaped(unsigned char c) { return c >= 0x20 && c <= 0x7E && c != '"' && c != '\\'; }

}  // namespace

void append_ascii_json_string(std::string& out, std::string_view utf8) {
  out.push_back('"');
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const std::size_t run_start = pos;
    while (pos < utf8.size() && passes_unescaped(static_cast<unsigned char>(utf8[pos]))) ++pos;
    out.append(utf8.data() + run_start, pos - run_start);
    if (pos == utf8.size()) break;

    const char32_t cp = next_code_point(utf8, pos);
    switch (cp) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
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
      case '\b':
        out.append("\\b");
        break;
      case '\f':
        out.append("\\f");
        break;
      default:
        if (cp >= 0x10000) {
          const char32_t offset = cp - 0x10000;
          append_u_escape(out, 0xD800 + (offset >> 10));
          append_u_escape(out, 0xDC00 + (offset & 0x3FF));
        } else {
          append_u_escape(out, cp);
        }
    }
  }
  out.push_back('"');
}

}  // namespace ixc
