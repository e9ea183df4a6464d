// float_repr against Python's repr(float): the text reads back as the same double, uses the
// exponent form exactly when the decimal exponent is below -4 or at least 16, always shows a
// '.' or an 'e' (or is inf, -inf, nan), has no digit to spare, and the exponent has a sign and
// at least two digits.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "text/float_repr.h"

namespace {

bool all_digits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < sizeof(double)) return 0;
  double value;
  std::memcpy(&value, data, sizeof value);
  const std::string text = ixc::float_repr(value);
  if (std::isnan(value)) {
    FUZZ_REQUIRE(text == "nan", text);
    return 0;
  }
  if (std::isinf(value)) {
    FUZZ_REQUIRE(text == (value < 0 ? "-inf" : "inf"), text);
    return 0;
  }

  double back = std::strtod(text.c_str(), nullptr);
  FUZZ_REQUIRE(std::memcmp(&back, &value, sizeof value) == 0, text);

  std::string_view rest(text);
  if (rest.starts_with('-')) rest.remove_prefix(1);
  FUZZ_REQUIRE(std::signbit(value) == (rest.size() < text.size()), text);
  std::size_t e = rest.find('e');
  std::string digits;  // the significant digits, without leading or trailing zeros
  int exponent = 0;    // the decimal exponent of the first of them
  if (e != std::string_view::npos) {
    std::string_view mantissa = rest.substr(0, e), power = rest.substr(e + 1);
    FUZZ_REQUIRE(mantissa.size() == 1 || (mantissa.size() > 2 && mantissa[1] == '.'), text);
    digits =
        std::string(1, mantissa[0]) + std::string(mantissa.substr(mantissa.size() > 1 ? 2 : 1));
    FUZZ_REQUIRE(all_digits(digits) && digits.front() != '0' && digits.back() != '0', text);
    FUZZ_REQUIRE(power.size() >= 3 && (power[0] == '+' || power[0] == '-'), text);
    std::string_view magnitude = power.substr(1);
    FUZZ_REQUIRE(all_digits(magnitude) && (magnitude.size() == 2 || magnitude[0] != '0'), text);
    exponent = std::atoi(std::string(power).c_str());
    FUZZ_REQUIRE(exponent < -4 || exponent >= 16, text);
  } else {
    std::size_t dot = rest.find('.');
    FUZZ_REQUIRE(dot != std::string_view::npos, text);
    std::string_view whole = rest.substr(0, dot), fraction = rest.substr(dot + 1);
    FUZZ_REQUIRE(all_digits(whole) && all_digits(fraction), text);
    FUZZ_REQUIRE(whole.size() == 1 || whole[0] != '0', text);
    FUZZ_REQUIRE(fraction == "0" || fraction.back() != '0', text);
    std::string all = std::string(whole) + std::string(fraction);
    std::size_t first = all.find_first_not_of('0');
    if (first == std::string::npos) {
      FUZZ_REQUIRE(value == 0 && text.ends_with("0.0") && text.size() <= 4, text);
      return 0;
    }
    exponent = static_cast<int>(whole.size()) - 1 - static_cast<int>(first);
    digits = all.substr(first);
    digits.erase(digits.find_last_not_of('0') + 1);
    FUZZ_REQUIRE(exponent >= -4 && exponent < 16, text);
  }

  // No digit to spare: the nearest decimal with one digit less reads back as another double.
  if (digits.size() > 1) {
    char shorter[64];
    std::snprintf(shorter, sizeof shorter, "%.*e", static_cast<int>(digits.size()) - 2, value);
    FUZZ_REQUIRE(std::strtod(shorter, nullptr) != value, text + " vs " + shorter);
  }
  return 0;
}
