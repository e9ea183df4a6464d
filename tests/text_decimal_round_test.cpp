// Rounding of the value totals follows Python's round(value, digits); the golden file holds
// CPython's answers for halves, float sums of cents, huge and tiny magnitudes and negative
// digit counts.

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>

#include "text/decimal_round.h"
#include "text/float_repr.h"

namespace {

double parse_repr(const std::string& text) {
  if (text == "nan") return std::numeric_limits<double>::quiet_NaN();
  if (text == "inf") return std::numeric_limits<double>::infinity();
  if (text == "-inf") return -std::numeric_limits<double>::infinity();
  double value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size()) {
    throw std::runtime_error("unreadable number in fixture: " + text);
  }
  return value;
}

TEST(RoundDecimal, MatchesPythonOnGoldenCases) {
  std::ifstream in(std::string(IXC_TESTS_DIR) + "/fixtures/text/rounding.txt");
  ASSERT_TRUE(in) << "fixtures/text/rounding.txt missing";
  std::string value_text, expected;
  int digits = 0;
  int checked = 0;
  while (in >> value_text >> digits >> expected) {
    const double rounded = ixc::round_decimal(parse_repr(value_text), digits);
    // Compare the texts: they tell -0.0 from 0.0 and nan from nan.
    EXPECT_EQ(ixc::float_repr(rounded), expected)
        << "round(" << value_text << ", " << digits << ")";
    ++checked;
  }
  EXPECT_GT(checked, 1000);
}

TEST(RoundDecimal, RoundsTheExactBinaryValueWithTiesToEven) {
  EXPECT_EQ(ixc::round_decimal(0.125, 2), 0.12);
  EXPECT_EQ(ixc::round_decimal(0.375, 2), 0.38);
  EXPECT_EQ(ixc::round_decimal(2.675, 2), 2.67);  // the double lies below the half
  EXPECT_EQ(ixc::round_decimal(0.1 + 0.2, 2), 0.3);
  EXPECT_EQ(ixc::round_decimal(149.5, -2), 100.0);  // no double rounding through 150
  EXPECT_EQ(ixc::round_decimal(250.0, -2), 200.0);
  EXPECT_EQ(ixc::round_decimal(250.5, -2), 300.0);
}

TEST(RoundDecimal, KeepsTheSignOfWhatRoundsToZero) {
  EXPECT_TRUE(std::signbit(ixc::round_decimal(-0.001, 2)));
  EXPECT_TRUE(std::signbit(ixc::round_decimal(-4.0, -1)));
  EXPECT_FALSE(std::signbit(ixc::round_decimal(0.004, 2)));
}

TEST(RoundDecimal, ReportsAResultBeyondTheDoubleRange) {
  try {
    ixc::round_decimal(std::numeric_limits<double>::max(), -308);
    FAIL() << "no overflow reported";
  } catch (const std::overflow_error& failure) {
    EXPECT_NE(std::string(failure.what()).find("1.7976931348623157e+308"), std::string::npos)
        << failure.what();
  }
}

}  // namespace
