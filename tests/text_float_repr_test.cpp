// Doubles render as the earlier collector's interpreter wrote them; the golden file holds
// CPython's repr() of edge values, money amounts and random bit patterns.

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <limits>
#include <string>

#include "text/float_repr.h"

namespace {

std::ifstream open_fixture(const std::string& name) {
  return std::ifstream(std::string(IXC_TESTS_DIR) + "/fixtures/text/" + name);
}

TEST(FloatRepr, MatchesPythonOnGoldenValues) {
  std::ifstream in = open_fixture("floats.txt");
  ASSERT_TRUE(in) << "fixtures/text/floats.txt missing";
  std::string hex, expected;
  int checked = 0;
  while (in >> hex >> expected) {
    std::uint64_t bits = 0;
    std::from_chars(hex.data(), hex.data() + hex.size(), bits, 16);
    const double value = std::bit_cast<double>(bits);
    EXPECT_EQ(ixc::float_repr(value), expected) << "bit pattern " << hex;
    ++checked;
  }
  EXPECT_GT(checked, 3000);
}

TEST(FloatRepr, KeepsAFractionOrAnExponent) {
  EXPECT_EQ(ixc::float_repr(150.0), "150.0");
  EXPECT_EQ(ixc::float_repr(0.0), "0.0");
  EXPECT_EQ(ixc::float_repr(-0.0), "-0.0");
  EXPECT_EQ(ixc::float_repr(9999999999999998.0), "9999999999999998.0");
  EXPECT_EQ(ixc::float_repr(1e16), "1e+16");
  EXPECT_EQ(ixc::float_repr(0.0001), "0.0001");
  EXPECT_EQ(ixc::float_repr(0.00001), "1e-05");
  EXPECT_EQ(ixc::float_repr(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(ixc::float_repr(-std::numeric_limits<double>::quiet_NaN()), "nan");
}

TEST(FloatRepr, AppendsAfterExistingText) {
  std::string out = "valor=";
  ixc::append_float_repr(out, 1234.5);
  ixc::append_float_repr(out, -std::numeric_limits<double>::infinity());
  EXPECT_EQ(out, "valor=1234.5-inf");
}

}  // namespace
