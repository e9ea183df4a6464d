// Decoded JSON values print as Python's repr of json.loads(text), and the printable rule
// behind every repr agrees with CPython's str.isprintable() on the whole code space.

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "text/python_repr.h"

namespace {

std::ifstream open_fixture(const std::string& name) {
  return std::ifstream(std::string(IXC_TESTS_DIR) + "/fixtures/text/" + name);
}

template <typename T>
concept IntReprAccepts = requires(std::string& out, T value) {
  ixc::append_int_repr(out, value);
};
static_assert(IntReprAccepts<int> && IntReprAccepts<std::int64_t>);
static_assert(!IntReprAccepts<double> && !IntReprAccepts<bool>,
              "Python shows 1.0 and True, so these must not turn into integers silently");

TEST(PythonRepr, MatchesPythonOnDecodedJson) {
  std::ifstream in = open_fixture("json_repr.txt");
  ASSERT_TRUE(in) << "fixtures/text/json_repr.txt missing";
  std::string line;
  int checked = 0;
  while (std::getline(in, line)) {
    const auto tab = line.find('\t');
    const std::string text = line.substr(0, tab);
    EXPECT_EQ(ixc::python_repr(nlohmann::ordered_json::parse(text)), line.substr(tab + 1))
        << "json " << text;
    ++checked;
  }
  EXPECT_GT(checked, 25);
}

TEST(PythonRepr, KeepsMemberOrderOfBuiltValues) {
  nlohmann::ordered_json reply;
  reply["z"] = nullptr;
  reply["a"] = {1, -2, 0.5, "x'"};
  EXPECT_EQ(ixc::python_repr(reply), "{'z': None, 'a': [1, -2, 0.5, \"x'\"]}");
}

TEST(PythonRepr, RefusesValuesThatNoJsonTextHolds) {
  const auto bytes = nlohmann::ordered_json::binary({1, 2});
  EXPECT_THROW(ixc::python_repr(bytes), std::invalid_argument);
}

TEST(PythonRepr, IntegersInDecimal) {
  std::string out;
  ixc::append_int_repr(out, INT64_MIN);
  out.push_back(' ');
  ixc::append_int_repr(out, 0);
  EXPECT_EQ(out, "-9223372036854775808 0");
}

// The table comes from the system's Unicode data, cut back to the Unicode 14.0 of python 3.11
// by its DerivedAge.txt: characters assigned since (the "newer" lines, which Debian 12's 15.0
// added) are unassigned, so not printable, for python and for the program alike, on every
// release's unicode-data.
TEST(Printable, AgreesWithPythonOnEveryCodePoint) {
  std::ifstream in = open_fixture("printable.txt");
  ASSERT_TRUE(in) << "fixtures/text/printable.txt missing";
  std::vector<bool> python_printable(0x110000, true);
  std::vector<bool> newer(0x110000, false);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    bool is_newer = line.rfind("newer ", 0) == 0;
    if (is_newer) fields.ignore(6);
    unsigned first = 0, last = 0;
    fields >> std::hex >> first >> last;
    for (unsigned cp = first; cp <= last; ++cp) {
      if (is_newer) {
        newer[cp] = true;
      } else {
        python_printable[cp] = false;
      }
    }
  }
  int mismatches = 0;
  std::ostringstream shown;
  for (char32_t cp = 0; cp < 0x110000; ++cp) {
    if (ixc::is_printable(cp) == python_printable[cp]) continue;
    if (++mismatches <= 20) {
      shown << std::hex << " U+" << static_cast<unsigned>(cp) << (newer[cp] ? " (newer)" : "");
    }
  }
  EXPECT_EQ(mismatches, 0) << "disagreeing code points (first 20):" << shown.str()
                           << "; a newer python asks for a regenerated fixture";
  EXPECT_FALSE(ixc::is_printable(0x110000));
}

}  // namespace
