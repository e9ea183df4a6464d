#pragma once

#include <string>
#include <string_view>

/// JSON string literals as the discovery document has always carried them (Python's
/// json.dumps with ensure_ascii): the text in double quotes, `\"` and `\\`, the one-letter
/// escapes \n \r \t \b \f, and every other control character, DEL and every non-ASCII
/// character as \u with four lowercase hex digits (a surrogate pair beyond U+FFFF). "/" is
/// not escaped. Invalid UTF-8 reads as U+FFFD per maximal bad subsequence (text/utf8_decode.h).
namespace ixc {

void append_ascii_json_string(std::string& out, std::string_view utf8);

}  // namespace ixc
