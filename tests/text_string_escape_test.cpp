// Texts in the discovery document (json.dumps) and in the debug report (repr) are written
// as CPython writes them; the golden file pairs input bytes, valid UTF-8 or not, with both
// renderings.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "text/json_text.h"
#include "text/python_repr.h"

namespace {

struct StringCase {
  std::string input;
  std::string json;
  std::string repr;
};

std::string unhex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::vector<StringCase> golden_strings() {
  std::ifstream in(std::string(IXC_TESTS_DIR) + "/fixtures/text/strings.txt");
  std::vector<StringCase> cases;
  std::string line;
  while (std::getline(in, line)) {
    const auto first_tab = line.find('\t');
    const auto second_tab = line.find('\t', first_tab + 1);
    cases.push_back({unhex(line.substr(0, first_tab)),
                     line.substr(first_tab + 1, second_tab - first_tab - 1),
                     line.substr(second_tab + 1)});
  }
  return cases;
}

std::string json_string(std::string_view text) {
  std::string out;
  ixc::append_ascii_json_string(out, text);
  return out;
}

TEST(StringEscape, MatchesPythonOnGoldenTexts) {
  const auto cases = golden_strings();
  ASSERT_GT(cases.size(), 250u) << "fixtures/text/strings.txt missing or short";
  for (const auto& c : cases) {
    EXPECT_EQ(json_string(c.input), c.json) << "json.dumps of " << c.repr;
    EXPECT_EQ(ixc::str_repr(c.input), c.repr) << "repr, json form " << c.json;
  }
}

TEST(StringEscape, QuotesAsTheReportAndTheDocumentShowNames) {
  EXPECT_EQ(ixc::str_repr("Mercearia D'Ávila"), "\"Mercearia D'Ávila\"");
  EXPECT_EQ(json_string("Mercearia D'Ávila"), "\"Mercearia D'\\u00c1vila\"");
  EXPECT_EQ(ixc::str_repr("Bar \"do Zé\""), "'Bar \"do Zé\"'");
  EXPECT_EQ(ixc::str_repr("Zé's \"Bar\""), "'Zé\\'s \"Bar\"'");
  EXPECT_EQ(json_string("a/b\x7f"), "\"a/b\\u007f\"");  // json.dumps escapes DEL, not "/"
}

TEST(StringEscape, BadBytesDoNotLoseTheRestOfTheText) {
  const std::string clerk_typed = "Jos\xe9 Silva \xf0\x9f\x98";
  EXPECT_EQ(ixc::str_repr(clerk_typed), "'Jos\xef\xbf\xbd Silva \xef\xbf\xbd'");
  EXPECT_EQ(json_string(clerk_typed), "\"Jos\\ufffd Silva \\ufffd\"");
}

TEST(StringEscape, AppendsAfterExistingText) {
  std::string out = "{";
  ixc::append_str_repr(out, "a");
  ixc::append_ascii_json_string(out, "b");
  EXPECT_EQ(out, "{'a'\"b\"");
}

}  // namespace
