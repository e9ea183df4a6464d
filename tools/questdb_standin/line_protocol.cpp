#include "questdb_standin/line_protocol.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>

namespace ixc::standin {

namespace {

bool is_line_end(char c) { return c == '\n' || c == '\r'; }

struct Reader {
  const char* p;
  const char* end;
  int physical_line = 1;              // line of the body that p is on
  int line_start = 1;                 // line on which the current record began
  std::deque<std::string> unescaped;  // a deque, so that views into earlier texts stay valid

  bool at_line_end() const { return p == end || is_line_end(*p); }

  [[noreturn]] void fail(const std::string& message) const {
    throw LineProtocolError(line_start, message);
  }

  // The rest of the line from `from`, as QuestDB quotes a bad value.
  std::string_view rest_of_line(const char* from) const {
    const char* stop = static_cast<const char*>(std::memchr(from, '\n', end - from));
    if (stop == nullptr) stop = end;
    if (stop > from && stop[-1] == '\r') --stop;
    return {from, static_cast<size_t>(stop - from)};
  }

  [[noreturn]] void fail_value(std::string_view field, const char* value) const {
    fail("Could not parse entire line, field value is invalid. Field: " + std::string(field) +
         "; value: " + std::string(rest_of_line(value)));
  }
};

// A name or tag value, up to an unescaped comma, blank, line end or (for keys) equals sign.
std::string_view read_token(Reader& r, bool is_key) {
  const char* start = r.p;
  bool escaped = false;
  while (r.p != r.end) {
    char c = *r.p;
    if (c == '\\') {
      if (r.p + 1 == r.end || is_line_end(r.p[1])) r.fail("Could not parse entire line");
      escaped = true;
      r.p += 2;
      continue;
    }
    if (c == ',' || c == ' ' || is_line_end(c) || (is_key && c == '=')) break;
    ++r.p;
  }
  if (!escaped) return {start, static_cast<size_t>(r.p - start)};
  std::string& out = r.unescaped.emplace_back();
  for (const char* q = start; q < r.p; ++q) {
    if (*q == '\\') ++q;
    out.push_back(*q);
  }
  return out;
}

void read_string(Reader& r, Field& field) {
  const char* value = r.p;
  ++r.p;  // opening quote
  const char* start = r.p;
  bool escaped = false;
  for (;;) {
    if (r.p == r.end || *r.p == '\n') r.fail_value(field.name, value);
    char c = *r.p;
    if (c == '"') break;
    if (c == '\\') {
      char next = r.p + 1 == r.end ? '\0' : r.p[1];
      if (next != '"' && next != '\\' && next != '\n' && next != '\r') {
        r.fail_value(field.name, value);
      }
      if (next == '\n') ++r.physical_line;
      escaped = true;
      r.p += 2;
      continue;
    }
    ++r.p;
  }
  if (!escaped) {
    field.text = {start, static_cast<size_t>(r.p - start)};
  } else {
    std::string& out = r.unescaped.emplace_back();
    out.reserve(static_cast<size_t>(r.p - start));
    for (const char* q = start; q < r.p; ++q) {
      if (*q == '\\') ++q;
      out.push_back(*q);
    }
    field.text = out;
  }
  ++r.p;  // closing quote
  if (!r.at_line_end() && *r.p != ',' && *r.p != ' ') r.fail_value(field.name, value);
  field.kind = FieldKind::String;
}

bool parse_integer(std::string_view text, std::int64_t& out) {
  if (text.empty()) return false;
  auto result = std::from_chars(text.data(), text.data() + text.size(), out);
  return result.ec == std::errc{} && result.ptr == text.data() + text.size();
}

bool parse_float(std::string_view text, double& out) {
  if (text.empty()) return false;
  bool only_number_bytes = std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
  });
  if (!only_number_bytes) return false;
  auto result = std::from_chars(text.data(), text.data() + text.size(), out);
  return result.ec == std::errc{} && result.ptr == text.data() + text.size() && std::isfinite(out);
}

std::optional<bool> parse_boolean(std::string_view text) {
  for (std::string_view yes : {"t", "T", "true", "True", "TRUE"}) {
    if (text == yes) return true;
  }
  for (std::string_view no : {"f", "F", "false", "False", "FALSE"}) {
    if (text == no) return false;
  }
  return std::nullopt;
}

void read_unquoted(Reader& r, Field& field) {
  const char* start = r.p;
  while (!r.at_line_end() && *r.p != ',' && *r.p != ' ') ++r.p;
  std::string_view text(start, static_cast<size_t>(r.p - start));
  if (text.empty()) r.fail_value(field.name, start);
  std::string_view digits = text.substr(0, text.size() - 1);
  bool numeric =
      text.front() == '-' || text.front() == '.' || (text.front() >= '0' && text.front() <= '9');
  if (!numeric) {
    auto boolean = parse_boolean(text);
    if (!boolean) r.fail_value(field.name, start);
    field.kind = FieldKind::Boolean;
    field.integer = *boolean ? 1 : 0;
  } else if (text.back() == 'i' && parse_integer(digits, field.integer)) {
    field.kind = FieldKind::Integer;
  } else if (text.back() == 't' && parse_integer(digits, field.integer)) {
    field.kind = FieldKind::Timestamp;
  } else if (parse_float(text, field.real)) {
    field.kind = FieldKind::Float;
  } else {
    r.fail_value(field.name, start);
  }
}

void read_fields(Reader& r, Line& line) {
  for (;;) {
    Field& field = line.fields.emplace_back();
    field.name = read_token(r, true);
    if (field.name.empty() || r.at_line_end() || *r.p != '=') {
      r.fail("Could not parse entire line, field name or value is missing");
    }
    ++r.p;  // '='
    if (r.p != r.end && *r.p == '"') {
      read_string(r, field);
    } else {
      read_unquoted(r, field);
    }
    if (r.at_line_end() || *r.p == ' ') return;
    ++r.p;  // ','
  }
}

void read_tags(Reader& r, Line& line) {
  while (r.p != r.end && *r.p == ',') {
    ++r.p;
    Field& tag = line.fields.emplace_back();
    tag.kind = FieldKind::Tag;
    tag.name = read_token(r, true);
    if (tag.name.empty() || r.at_line_end() || *r.p != '=') {
      r.fail("Could not parse entire line. Symbol value is missing");
    }
    ++r.p;  // '='
    tag.text = read_token(r, false);
    if (tag.text.empty()) r.fail("Could not parse entire line. Symbol value is missing");
  }
}

void skip_blanks(Reader& r) {
  while (r.p != r.end && *r.p == ' ') ++r.p;
}

void read_timestamp(Reader& r, Line& line) {
  const char* start = r.p;
  while (!r.at_line_end() && *r.p != ' ') ++r.p;
  std::int64_t value;
  if (!parse_integer({start, static_cast<size_t>(r.p - start)}, value)) {
    r.fail("Could not parse timestamp: " + std::string(r.rest_of_line(start)));
  }
  line.timestamp = value;
  skip_blanks(r);
  if (!r.at_line_end()) r.fail("Could not parse timestamp: " + std::string(r.rest_of_line(start)));
}

void read_line(Reader& r, Line& line) {
  line.number = r.line_start;
  line.table = read_token(r, false);
  if (line.table.empty()) r.fail("Could not parse entire line, table name is missing");
  read_tags(r, line);
  bool has_tags = !line.fields.empty();
  if (r.at_line_end()) {
    if (!has_tags) r.fail("Could not parse entire line");
    return;
  }
  skip_blanks(r);  // the blank after the table name or the last tag
  if (r.at_line_end()) {
    if (!has_tags) r.fail("Could not parse entire line");
    return;
  }
  read_fields(r, line);
  if (r.at_line_end()) return;
  skip_blanks(r);
  if (!r.at_line_end()) read_timestamp(r, line);
}

void skip_line_end(Reader& r) {
  if (r.p == r.end) return;
  if (*r.p == '\r') ++r.p;
  if (r.p != r.end && *r.p == '\n') {
    ++r.p;
    ++r.physical_line;
  }
}

}  // namespace

void parse_lines(std::string_view body, const std::function<void(const Line&)>& on_line) {
  Reader r{body.data(), body.data() + body.size(), 1, 1, {}};
  Line line;
  while (r.p != r.end) {
    if (is_line_end(*r.p)) {
      skip_line_end(r);
      continue;
    }
    r.line_start = r.physical_line;
    line.fields.clear();
    line.timestamp.reset();
    r.unescaped.clear();
    read_line(r, line);
    on_line(line);
    skip_line_end(r);
  }
}

std::string_view protocol_type_name(FieldKind kind) {
  switch (kind) {
    case FieldKind::Tag:
      return "SYMBOL";
    case FieldKind::Integer:
      return "LONG";
    case FieldKind::Float:
      return "DOUBLE";
    case FieldKind::String:
      return "STRING";
    case FieldKind::Boolean:
      return "BOOLEAN";
    case FieldKind::Timestamp:
      return "TIMESTAMP";
  }
  return "UNKNOWN";
}

}  // namespace ixc::standin
