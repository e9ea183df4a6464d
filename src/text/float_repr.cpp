#include "text/float_repr.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

namespace ixc {

void append_float_repr(std::string& out, double value) {
  if (std::isnan(value)) {
    out.append("nan");
    return;
  }
  if (std::isinf(value)) {
    out.append(value < 0 ? "-inf" : "inf");
    return;
  }
  // Scientific shortest form "[-]d[.ddd]e(+|-)dd[d]": its digits are the shortest round-trip
  // ones, and it is already the wanted text whenever the exponent form applies.
  char sci[32];
  const char* end = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific).ptr;
  std::string_view text(sci, end - sci);
  const std::size_t e_pos = text.find('e');
  int exponent = 0;
  const char* exponent_start = sci + e_pos + 1;
  if (*exponent_start == '+') ++exponent_start;  // from_chars takes "-" only
  std::from_chars(exponent_start, end, exponent);
  if (exponent < -4 || exponent >= 16) {
    out.append(text);
    return;
  }

  std::string_view mantissa = text.substr(0, e_pos);
  if (mantissa.front() == '-') {
    out.push_back('-');
    mantissa.remove_prefix(1);
  }
  char digits[20];
  std::size_t count = 0;
  for (char c : mantissa) {
    if (c != '.') digits[count++] = c;
  }
  const std::string_view all(digits, count);
  if (exponent < 0) {
    out.append("0.");
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out.append(all);
    return;
  }
  const auto int_digits = static_cast<std::size_t>(exponent) + 1;
  if (count <= int_digits) {
    out.append(all);
    out.append(int_digits - count, '0');
    out.append(".0");
  } else {
    out.append(all.substr(0, int_digits));
    out.push_back('.');
    out.append(all.substr(int_digits));
  }
}

std::string float_repr(double value) {
  std::string out;
  append_float_repr(out, value);
  return out;
}

}  // namespace ixc
