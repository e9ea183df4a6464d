#include "tsdb/line_protocol.h"

#include <time.h>

#include <charconv>
#include <cmath>
#include <cstring>

#include "text/float_repr.h"

namespace ixc {
namespace {

// A line is written through a pointer into room made for its longest form, and the string is
// cut back to what was written: hundreds of thousands of lines a pass, each of some sixty
// pieces, would otherwise pay a capacity check per piece.
constexpr std::size_t kIntegerRoom = 21;  // sign, 19 digits, suffix
constexpr std::size_t kFloatRoom = 32;    // "-1.2345678901234567e-308" and the like

std::size_t value_room(const Field& field) {
  if (const auto* text = std::get_if<std::string_view>(&field.value)) return 2 * text->size() + 2;
  return std::holds_alternative<double>(field.value) ? kFloatRoom : kIntegerRoom;
}

char* put(char* at, std::string_view text) {
  std::memcpy(at, text.data(), text.size());
  return at + text.size();
}

char* put_integer(char* at, std::int64_t value) {
  return std::to_chars(at, at + kIntegerRoom, value).ptr;
}

// The raw byte follows the backslash: a line feed stays a line feed, not the letter n.
char* put_string(char* at, std::string_view text) {
  *at++ = '"';
  for (char c : text) {
    if (c == '"' || c == '\\' || c == '\n' || c == '\r') *at++ = '\\';
    *at++ = c;
  }
  *at++ = '"';
  return at;
}

char* put_float(char* at, double value) {
  std::string text;  // within the small-string buffer for nearly every amount
  append_float_repr(text, value);
  return put(at, text);
}

}  // namespace

TimestampNanos TimestampNanos::now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return TimestampNanos{static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec};
}

std::size_t append_line(std::string& out, LineName table, std::span<const Field> fields,
                        TimestampNanos at) {
  std::size_t room = table.text.size() + 2 + kIntegerRoom;
  for (const Field& field : fields) room += field.name.text.size() + 2 + value_room(field);
  std::size_t start = out.size();
  out.resize(start + room);

  char* p = put(out.data() + start, table.text);
  *p++ = ' ';
  std::size_t written = 0;
  for (const Field& field : fields) {
    if (const auto* real = std::get_if<double>(&field.value); real && !std::isfinite(*real)) {
      continue;
    }
    if (written++ > 0) *p++ = ',';
    p = put(p, field.name.text);
    *p++ = '=';
    switch (field.value.index()) {
      case 0:
        p = put_integer(p, std::get<0>(field.value));
        *p++ = 'i';
        break;
      case 1:
        p = put_float(p, std::get<1>(field.value));
        break;
      case 2:
        p = put_string(p, std::get<2>(field.value));
        break;
      default:
        p = put_integer(p, std::get<3>(field.value).micros);
        *p++ = 't';
    }
  }
  *p++ = ' ';
  p = put_integer(p, at.nanos);
  *p++ = '\n';
  out.resize(static_cast<std::size_t>(p - out.data()));
  return written;
}

}  // namespace ixc
