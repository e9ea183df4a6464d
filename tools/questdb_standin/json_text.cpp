#include "questdb_standin/json_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace ixc::standin {

void append_questdb_json_string(std::string& out, std::string_view text) {
  out.push_back('"');
  size_t plain_from = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.substr(plain_from, i - plain_from));
    plain_from = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default: {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", c);
        out += escape;
      }
    }
  }
  out.append(text.substr(plain_from));
  out.push_back('"');
}

void append_json_double(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
  out += text;
  if (text.find_first_of(".e") == std::string_view::npos) out += ".0";
}

namespace {

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's civil_from_days).
void civil_from_days(std::int64_t days, std::int64_t& year, int& month, int& day) {
  days += 719468;
  std::int64_t era = floor_div(days, 146097);
  std::int64_t doe = days - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

void append_iso_timestamp(std::string& out, std::int64_t micros) {
  std::int64_t seconds = floor_div(micros, 1000000);
  auto fraction = static_cast<int>(micros - seconds * 1000000);
  std::int64_t days = floor_div(seconds, 86400);
  auto of_day = static_cast<int>(seconds - days * 86400);
  std::int64_t year;
  int month, day;
  civil_from_days(days, year, month, day);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02dT%02d:%02d:%02d.%06dZ",
                static_cast<long long>(year), month, day, of_day / 3600, of_day / 60 % 60,
                of_day % 60, fraction);
  out += buffer;
}

std::string exec_error_object(std::string_view query, std::string_view error, int position) {
  std::string out = "{\"query\":";
  append_questdb_json_string(out, query);
  out += ",\"error\":";
  append_questdb_json_string(out, error);
  out += ",\"position\":" + std::to_string(position) + "}";
  return out;
}

}  // namespace ixc::standin
