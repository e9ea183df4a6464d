#pragma once
/// Reads the text form (version 1) of the InfluxDB line protocol strictly, as QuestDB reads it
/// over HTTP: `table[,tag=value...] field=value[,field=value...] [timestamp]`, lines ended by LF
/// (CR LF too; the last line may lack it), empty lines skipped. Field values are integers `42i`,
/// floats, strings `"..."` whose only escapes are backslash before `"`, `\`, LF and CR,
/// booleans t/f/true/false and timestamps `...t`. In names and tag values a backslash keeps the
/// next byte as it is. The first line that breaks these rules ends the parse with
/// LineProtocolError, carrying the line number and QuestDB's text.
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ixc::standin {

enum class FieldKind : std::uint8_t { Tag, Integer, Float, String, Boolean, Timestamp };

struct Field {
  std::string_view name;
  FieldKind kind = FieldKind::Integer;
  std::int64_t integer = 0;  // Integer, Timestamp (as written), Boolean (0 or 1)
  double real = 0;           // Float
  std::string_view text;     // Tag, String, escapes resolved
};

struct Line {
  int number = 0;  // 1-based line of the body on which this line starts
  std::string_view table;
  std::vector<Field> fields;              // tags first, then fields, in line order
  std::optional<std::int64_t> timestamp;  // as written, in the request's precision
};

struct LineProtocolError : std::runtime_error {
  LineProtocolError(int line_number, const std::string& message)
      : std::runtime_error(message), line(line_number) {}
  int line;
};

/// Calls on_line for every non-empty line in order. The Line and the texts it views are valid
/// only during the call; views may point into `body`.
void parse_lines(std::string_view body, const std::function<void(const Line&)>& on_line);

/// QuestDB's name for a kind in cast errors ("STRING", "LONG", ...).
std::string_view protocol_type_name(FieldKind kind);

}  // namespace ixc::standin
