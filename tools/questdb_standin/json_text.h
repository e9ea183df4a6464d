#pragma once
/// The pieces of JSON text that the stand-in writes the way QuestDB writes them: strings with
/// only quote, backslash and control bytes escaped (UTF-8 passes through), doubles in their
/// shortest form with ".0" on whole numbers, timestamps as ISO text with microseconds and "Z".
/// Also the error object of /exec, whose member order clients may compare byte for byte.
#include <cstdint>
#include <string>
#include <string_view>

namespace ixc::standin {

void append_questdb_json_string(std::string& out, std::string_view text);

/// NaN and the infinities are written as null, as QuestDB shows a null DOUBLE.
void append_json_double(std::string& out, double value);

/// Microseconds since the epoch as "2024-01-02T03:04:05.000000Z"; years past 9999 get more digits.
void append_iso_timestamp(std::string& out, std::int64_t micros);

/// {"query":...,"error":...,"position":...}
std::string exec_error_object(std::string_view query, std::string_view error, int position);

}  // namespace ixc::standin
