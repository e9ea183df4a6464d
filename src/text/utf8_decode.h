#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// UTF-8 reading and writing shared by the text renderers. Texts come from the ERP
/// database as UTF-8; should a clerk's data hold bytes that are not valid UTF-8, each
/// maximal invalid subsequence reads as one U+FFFD, exactly as Python's
/// bytes.decode("utf-8", errors="replace") shows it: nothing crashes and nothing after the bad
/// bytes is lost. Encoded surrogates (ED A0..BF ..) and overlong forms count as invalid.
namespace ixc {

inline constexpr char32_t kReplacementChar = 0xFFFD;

/// Decodes the code point that starts at `pos` (which must be < text.size()) and moves `pos`
/// past it; an invalid sequence yields U+FFFD and moves past its maximal subpart (at least
/// one byte).
inline char32_t next_code_point(std::string_view text, std::size_t& pos) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  int extra = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the first continuation byte
  char32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // overlong below U+10000
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    ++pos;
    return kReplacementChar;
  }
  std::size_t i = pos + 1;
  for (int k = 0; k < extra; ++k, ++i) {
    if (i >= text.size() || byte(i) < low || byte(i) > high) {
      pos = i;
      return kReplacementChar;
    }
    cp = (cp << 6) | (byte(i) & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  pos = i;
  return cp;
}

/// Appends `cp` (a Unicode scalar value) encoded as UTF-8.
inline void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace ixc
