#include "text/python_repr.h"

#include <charconv>
#include <stdexcept>

#include "text/float_repr.h"
#include "text/utf8_decode.h"

namespace ixc {
namespace {

constexpr char kHex[] = "0123456789abcdef";

void append_hex_escape(std::string& out, char kind, char32_t cp, int width) {
  out.push_back('\\');
  out.push_back(kind);
  for (int shift = 4 * (width - 1); shift >= 0; shift -= 4)
    out.push_back(kHex[(cp >> shift) & 0xF]);
}

void append_escaped(std::string& out, char32_t cp, char quote) {
  if (cp == static_cast<char32_t>(quote) || cp == '\\') {
    out.push_back('\\');
    out.push_back(static_cast<char>(cp));
  } else if (cp == '\n') {
    out.append("\\n");
  } else if (cp == '\r') {
    out.append("\\r");
  } else if (cp == '\t') {
    out.append("\\t");
  } else if (is_printable(cp)) {
    append_utf8(out, cp);
  } else if (cp < 0x100) {
    append_hex_escape(out, 'x', cp, 2);
  } else if (cp < 0x10000) {
    append_hex_escape(out, 'u', cp, 4);
  } else {
    append_hex_escape(out, 'U', cp, 8);
  }
}

template <typename Integer>
void append_decimal(std::string& out, Integer value) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

}  // namespace

void append_str_repr(std::string& out, std::string_view utf8) {
  const bool has_single = utf8.find('\'') != std::string_view::npos;
  const bool has_double = utf8.find('"') != std::string_view::npos;
  const char quote = has_single && !has_double ? '"' : '\'';
  out.push_back(quote);
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const std::size_t run_start = pos;
    for (; pos < utf8.size(); ++pos) {
      const auto c = static_cast<unsigned char>(utf8[pos]);
      if (c < 0x20 || c >= 0x7F || c == quote || c == '\\') break;
    }
    out.append(utf8.data() + run_start, pos - run_start);
    if (pos == utf8.size()) break;
    append_escaped(out, next_code_point(utf8, pos), quote);
  }
  out.push_back(quote);
}

std::string str_repr(std::string_view utf8) {
  std::string out;
  append_str_repr(out, utf8);
  return out;
}

void append_int_repr(std::string& out, std::int64_t value) { append_decimal(out, value); }

void append_python_repr(std::string& out, const nlohmann::ordered_json& value) {
  using Kind = nlohmann::ordered_json::value_t;
  switch (value.type()) {
    case Kind::null:
      out.append("None");
      return;
    case Kind::boolean:
      out.append(value.get<bool>() ? "True" : "False");
      return;
    case Kind::number_integer:
      append_decimal(out, value.get<std::int64_t>());
      return;
    case Kind::number_unsigned:
      append_decimal(out, value.get<std::uint64_t>());
      return;
    case Kind::number_float:
      append_float_repr(out, value.get<double>());
      return;
    case Kind::string:
      append_str_repr(out, value.get_ref<const std::string&>());
      return;
    case Kind::array: {
      out.push_back('[');
      bool first = true;
      for (const auto& element : value) {
        if (!first) out.append(", ");
        first = false;
        append_python_repr(out, element);
      }
      out.push_back(']');
      return;
    }
    case Kind::object: {
      out.push_back('{');
      bool first = true;
      for (const auto& [key, member] : value.items()) {
        if (!first) out.append(", ");
        first = false;
        append_str_repr(out, key);
        out.append(": ");
        append_python_repr(out, member);
      }
      out.push_back('}');
      return;
    }
    case Kind::binary:
    case Kind::discarded:
      break;
  }
  throw std::invalid_argument(std::string("cannot show a JSON value of kind \"") +
                              value.type_name() + "\" as Python would: no JSON text decodes to it");
}

std::string python_repr(const nlohmann::ordered_json& value) {
  std::string out;
  append_python_repr(out, value);
  return out;
}

}  // namespace ixc
