#include "tsdb/line_protocol.h"

#include <time.h>

#include <charconv>
#include <cmath>

#include "text/float_repr.h"

namespace ixc {
namespace {

void append_integer(std::string& out, std::int64_t value) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// Writes `name=value` and says whether it did; a non-finite float writes nothing.
bool append_field(std::string& out, const Field& field) {
  switch (field.value.index()) {
    case 0:
      out.append(field.name.text).push_back('=');
      append_integer(out, std::get<0>(field.value));
      out.push_back('i');
      return true;
    case 1: {
      double real = std::get<1>(field.value);
      if (!std::isfinite(real)) return false;
      out.append(field.name.text).push_back('=');
      append_float_repr(out, real);
      return true;
    }
    case 2:
      out.append(field.name.text).push_back('=');
      append_string_value(out, std::get<2>(field.value));
      return true;
    default:
      out.append(field.name.text).push_back('=');
      append_integer(out, std::get<3>(field.value).micros);
      out.push_back('t');
      return true;
  }
}

}  // namespace

TimestampNanos TimestampNanos::now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return TimestampNanos{static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec};
}

void append_string_value(std::string& out, std::string_view text) {
  out.push_back('"');
  std::size_t run_start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '"' && c != '\\' && c != '\n' && c != '\r') continue;
    out.append(text.data() + run_start, i - run_start);
    // The raw byte follows the backslash: a line feed stays a line feed, not the letter n.
    out.push_back('\\');
    out.push_back(c);
    run_start = i + 1;
  }
  out.append(text.data() + run_start, text.size() - run_start);
  out.push_back('"');
}

std::size_t append_line(std::string& out, LineName table, std::span<const Field> fields,
                        TimestampNanos at) {
  out.append(table.text).push_back(' ');
  std::size_t written = 0;
  for (const Field& field : fields) {
    if (written > 0) out.push_back(',');
    if (append_field(out, field)) {
      ++written;
    } else if (written > 0) {
      out.pop_back();
    }
  }
  out.push_back(' ');
  append_integer(out, at.nanos);
  out.push_back('\n');
  return written;
}

}  // namespace ixc
