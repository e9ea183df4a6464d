#include "questdb_standin/names.h"

namespace ixc::standin {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool has_forbidden_byte(std::string_view name) {
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return true;
    if (std::string_view("?,'\"\\/:)(+*%~").find(c) != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string folded_name(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = lower(c);
  return out;
}

bool valid_table_name(std::string_view name) {
  if (name.empty() || has_forbidden_byte(name)) return false;
  if (name.front() == '.' || name.back() == '.') return false;
  return name.find("..") == std::string_view::npos;
}

bool valid_column_name(std::string_view name) {
  return !name.empty() && !has_forbidden_byte(name) &&
         name.find_first_of(".-") == std::string_view::npos;
}

}  // namespace ixc::standin
