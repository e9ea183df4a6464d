#pragma once
/// The text form (version 1) of the line protocol that QuestDB's ingestion endpoint reads, as
/// the writers use it: no tags, `table field=value,... nanoseconds` and a line feed. Integers go
/// as `42i`, floats as the shortest text that reads back as the same double, strings in double
/// quotes with `"`, `\`, LF and CR preceded by a backslash, timestamp fields as microseconds
/// with `t`. A non-finite float is left out of its line, which is what the server would store
/// for it anyway (NaN and the infinities are null in a DOUBLE column).
///
/// Table and column names are fixed identifiers of the program, checked when it is compiled;
/// field values are borrowed for the call that encodes them, and a value type that the
/// protocol does not carry, a null, or a temporary text does not compile.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace ixc {

/// Letters, digits, underscores and non-ASCII bytes: a name that never needs escaping.
constexpr bool is_line_name(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                 (byte >= '0' && byte <= '9') || byte == '_' || byte >= 0x80;
    if (!plain) return false;
  }
  return true;
}

/// A table or column name; only a literal that is_line_name accepts compiles.
struct LineName {
  consteval LineName(const char* literal) : text(literal) {
    if (!is_line_name(text)) throw "not a line protocol name";
  }
  std::string_view text;
};

/// A timestamp field value: microseconds since the Unix epoch.
struct TimestampMicros {
  std::int64_t micros = 0;
};

/// A line's own timestamp: nanoseconds since the Unix epoch.
struct TimestampNanos {
  std::int64_t nanos = 0;
  /// The real-time clock, read at the call.
  static TimestampNanos now();
};

/// One field of a line: a name and a value of one of the four kinds.
struct Field {
  using Value = std::variant<std::int64_t, double, std::string_view, TimestampMicros>;

  Field(LineName name, std::int64_t value) : name(name), value(value) {}
  Field(LineName name, int value) : name(name), value(std::int64_t{value}) {}
  Field(LineName name, double value) : name(name), value(value) {}
  Field(LineName name, std::string_view value) : name(name), value(value) {}
  Field(LineName name, const char* value) : name(name), value(std::string_view(value)) {}
  Field(LineName name, TimestampMicros value) : name(name), value(value) {}
  Field(LineName, bool) = delete;           // not a protocol type here
  Field(LineName, std::string&&) = delete;  // would dangle before the line is encoded

  LineName name;
  Value value;
};

/// Appends one line to `out`. Returns how many fields it wrote (non-finite floats are left
/// out); when that is 0 the caller must drop the line, which the protocol would refuse.
std::size_t append_line(std::string& out, LineName table, std::span<const Field> fields,
                        TimestampNanos at);

}  // namespace ixc
