#include "text/decimal_round.h"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string>
#include <system_error>

#include "text/float_repr.h"

namespace ixc {
namespace {

// Beyond these bounds the answer is known without looking at digits: a double has no
// decimals past the 323rd, and no double reaches 0.5e309.
constexpr int kDigitsKeepAll = 323;
constexpr int kDigitsLoseAll = -308;

double parse_rounded(const char* first, const char* last, double value, int digits) {
  double result = 0;
  auto [ptr, ec] = std::from_chars(first, last, result);
  if (ec == std::errc::result_out_of_range) {
    throw std::overflow_error("rounding " + float_repr(value) + " to " + std::to_string(digits) +
                              " decimal digits gives a value too large for a double");
  }
  if (ec != std::errc() || ptr != last) {
    throw std::logic_error("rounding " + float_repr(value) +
                           " produced an unreadable number: " + std::string(first, last));
  }
  return result;
}

// The fixed formatting of the standard library is exact and breaks ties to even, which is
// the whole rounding; the text then reads back as the nearest double.
double round_at_fraction(double value, int digits) {
  if (std::fabs(value) >= 0x1p52) return value;  // already an integer
  char buf[16 + 2 + kDigitsKeepAll + 8];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, digits);
  if (ec != std::errc()) {
    throw std::logic_error("cannot format " + float_repr(value) + " with " +
                           std::to_string(digits) + " decimals");
  }
  return parse_rounded(buf, end, value, digits);
}

// Rounding at tens or above has no formatting mode of its own: the integer part of a
// double prints exactly, the fraction only matters to break a tie, and the digit string is
// rounded by hand.
double round_at_integer(double value, int digits) {
  const auto drop = static_cast<std::size_t>(-digits);
  const double magnitude = std::fabs(value);
  const double whole = std::trunc(magnitude);
  const bool has_fraction = magnitude != whole;

  char int_buf[320];
  char* int_end =
      std::to_chars(int_buf, int_buf + sizeof int_buf, whole, std::chars_format::fixed, 0).ptr;
  std::string number(int_buf, int_end);
  if (number.size() <= drop) number.insert(0, drop + 1 - number.size(), '0');

  const std::size_t cut = number.size() - drop;
  bool up = false;
  if (number[cut] != '5') {
    up = number[cut] > '5';
  } else {
    const bool beyond_half =
        has_fraction || number.find_first_not_of('0', cut + 1) != std::string::npos;
    up = beyond_half || (number[cut - 1] - '0') % 2 == 1;
  }
  number.resize(cut);
  if (up) {
    std::size_t i = cut;
    while (i > 0 && number[i - 1] == '9') number[--i] = '0';
    if (i == 0) {
      number.insert(0, 1, '1');
    } else {
      ++number[i - 1];
    }
  }

  std::string text = std::signbit(value) ? "-" : "";
  text += number;
  text += 'e';
  text += std::to_string(drop);
  return parse_rounded(text.data(), text.data() + text.size(), value, digits);
}

}  // namespace

double round_decimal(double value, int digits) {
  if (!std::isfinite(value)) return value;
  if (digits > kDigitsKeepAll) return value;
  if (digits < kDigitsLoseAll) return 0.0 * value;
  return digits >= 0 ? round_at_fraction(value, digits) : round_at_integer(value, digits);
}

}  // namespace ixc
