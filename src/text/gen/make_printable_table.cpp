// Build-time generator of the table behind ixc::is_printable: reads UnicodeData.txt and
// writes a C++ source with the ranges of code points that Python's str.isprintable() rejects.
// Usage: make_printable_table <UnicodeData.txt> <DerivedAge.txt> <MAJOR.MINOR> <output.cpp>
//
// Code points assigned after Unicode MAJOR.MINOR (by DerivedAge.txt) stay unassigned, as they
// are for a Python built on that version: the table, and so what the program escapes, is then
// the same whichever Debian release's unicode-data it is built with (Debian 12 has 15.0, 13 has
// a later one).

#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr char32_t kCodeSpace = 0x110000;

bool category_is_printable(std::string_view category, char32_t cp) {
  if (cp == 0x20) return true;
  static constexpr std::string_view kRejected[] = {"Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp", "Zs"};
  for (std::string_view rejected : kRejected) {
    if (category == rejected) return false;
  }
  return true;
}

std::vector<std::string_view> split_fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= line.size(); ++i) {
    if (i == line.size() || line[i] == ';') {
      fields.push_back(line.substr(start, i - start));
      start = i + 1;
    }
  }
  return fields;
}

char32_t parse_code(std::string_view text, const std::string& where) {
  if (text.empty() || text.size() > 6) throw std::runtime_error(where + ": bad code point");
  unsigned long value = 0;
  for (char c : text) {
    int digit = (c >= '0' && c <= '9')   ? c - '0'
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                         : -1;
    if (digit < 0)
      throw std::runtime_error(where + ": bad code point \"" + std::string(text) + "\"");
    value = value * 16 + digit;
  }
  if (value >= kCodeSpace) throw std::runtime_error(where + ": code point beyond U+10FFFF");
  return static_cast<char32_t>(value);
}

bool ends_with(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// Every code point starts unassigned (Cn, not printable); each listed one, or each one of a
// "<..., First>" .. "<..., Last>" pair, takes its category.
std::vector<bool> read_printable(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open Unicode data file " + path);
  std::vector<bool> printable(kCodeSpace, false);
  std::string line;
  long line_number = 0;
  long previous = -1;
  long listed = 0;
  char32_t range_first = 0;
  bool in_range = false;
  while (std::getline(in, line)) {
    ++line_number;
    if (line.empty()) continue;
    const std::string where = path + ":" + std::to_string(line_number);
    const auto fields = split_fields(line);
    if (fields.size() != 15) throw std::runtime_error(where + ": expected 15 fields");
    const char32_t cp = parse_code(fields[0], where);
    const std::string_view name = fields[1];
    const std::string_view category = fields[2];
    if (category.size() != 2) throw std::runtime_error(where + ": bad general category");
    if (static_cast<long>(cp) <= previous) throw std::runtime_error(where + ": not ascending");
    previous = cp;
    ++listed;

    if (ends_with(name, ", First>")) {
      if (in_range) throw std::runtime_error(where + ": range opened twice");
      in_range = true;
      range_first = cp;
      continue;
    }
    char32_t first = cp;
    if (in_range) {
      if (!ends_with(name, ", Last>")) throw std::runtime_error(where + ": range not closed");
      in_range = false;
      first = range_first;
    } else if (ends_with(name, ", Last>")) {
      throw std::runtime_error(where + ": range closed without opening");
    }
    for (char32_t c = first; c <= cp; ++c) printable[c] = category_is_printable(category, c);
  }
  if (in_range) throw std::runtime_error(path + ": last range not closed");
  if (listed < 10000) throw std::runtime_error(path + ": too few entries for Unicode data");
  return printable;
}

// Each code point's Unicode version as a number MAJOR * 100 + MINOR; 0 where none is listed.
int parse_version(std::string_view text, const std::string& where) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  const auto dot = text.find('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == text.size() || text.size() > 5) {
    throw std::runtime_error(where + ": bad Unicode version \"" + std::string(text) + "\"");
  }
  int major = 0, minor = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i == dot) continue;
    if (text[i] < '0' || text[i] > '9') {
      throw std::runtime_error(where + ": bad Unicode version \"" + std::string(text) + "\"");
    }
    int& part = i < dot ? major : minor;
    part = part * 10 + (text[i] - '0');
  }
  return major * 100 + minor;
}

void drop_assigned_after(std::vector<bool>& printable, const std::string& path, int newest) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open Unicode age file " + path);
  std::string line;
  long line_number = 0;
  long dropped = 0, listed = 0;
  while (std::getline(in, line)) {
    ++line_number;
    const std::string_view data = std::string_view(line).substr(0, line.find('#'));
    if (data.find_first_not_of(' ') == std::string_view::npos) continue;
    const std::string where = path + ":" + std::to_string(line_number);
    const auto fields = split_fields(data);
    if (fields.size() != 2) throw std::runtime_error(where + ": expected 2 fields");
    std::string_view codes = fields[0];
    while (!codes.empty() && codes.back() == ' ') codes.remove_suffix(1);
    const auto dots = codes.find("..");
    const char32_t first = parse_code(codes.substr(0, dots), where);
    const char32_t last =
        dots == std::string_view::npos ? first : parse_code(codes.substr(dots + 2), where);
    if (last < first) throw std::runtime_error(where + ": range backwards");
    ++listed;
    if (parse_version(fields[1], where) <= newest) continue;
    for (char32_t c = first; c <= last; ++c) printable[c] = false;
    dropped += last - first + 1;
  }
  if (listed < 1000) throw std::runtime_error(path + ": too few entries for DerivedAge.txt");
  std::cerr << "make_printable_table: " << dropped << " code points assigned after Unicode "
            << newest / 100 << "." << newest % 100 << " left unassigned\n";
}

void write_table(const std::vector<bool>& printable, const std::string& source,
                 const std::string& path) {
  std::ostringstream body;
  std::size_t count = 0;
  for (char32_t cp = 0; cp < kCodeSpace;) {
    if (printable[cp]) {
      ++cp;
      continue;
    }
    const char32_t first = cp;
    while (cp < kCodeSpace && !printable[cp]) ++cp;
    char entry[48];
    std::snprintf(entry, sizeof entry, "    {0x%04X, 0x%04X},\n", static_cast<unsigned>(first),
                  static_cast<unsigned>(cp - 1));
    body << entry;
    ++count;
  }
  std::ofstream out(path);
  if (!out) throw std::runtime_error("cannot write " + path);
  out << "// Generated by make_printable_table from " << source << ". Do not edit.\n"
      << "#include \"text/unicode_table.h\"\n\n"
      << "namespace ixc::unicode_table {\n\n"
      << "const CodeRange kNotPrintable[] = {\n"
      << body.str() << "};\n\n"
      << "const std::size_t kNotPrintableCount = " << count << ";\n\n"
      << "}  // namespace ixc::unicode_table\n";
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: make_printable_table <UnicodeData.txt> <DerivedAge.txt> <MAJOR.MINOR> "
                 "<output.cpp>\n";
    return 2;
  }
  try {
    std::vector<bool> printable = read_printable(argv[1]);
    drop_assigned_after(printable, argv[2], parse_version(argv[3], "the version argument"));
    write_table(printable, std::string(argv[1]) + " up to Unicode " + argv[3], argv[4]);
  } catch (const std::exception& failure) {
    std::cerr << "make_printable_table: " << failure.what() << '\n';
    std::remove(argv[4]);
    return 1;
  }
  return 0;
}
