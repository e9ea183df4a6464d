#pragma once
/// Console constants and the two ways the program writes a line. Colour sequences are written
/// unconditionally, with no terminal test. Standard output is buffered for speed; a line for
/// standard error first flushes it, so that both streams keep their order on one terminal.
#include <string_view>

namespace ixc {

inline constexpr std::string_view CYAN = "\x1b[1;36m";
inline constexpr std::string_view GREEN = "\x1b[0;32m";
inline constexpr std::string_view YELLOW = "\x1b[0;93m";
inline constexpr std::string_view RESET = "\x1b[0;0m";
inline constexpr std::string_view VERSION = "2.1.2";

/// Writes `line` and a line feed on standard output (buffered).
void print_line(std::string_view line);

/// Writes raw text on standard output (buffered); the caller supplies any line feeds.
void print_text(std::string_view text);

/// Writes `text` on standard error as one write, after flushing standard output.
void print_error(std::string_view text);

/// Flushes standard output.
void flush_output();

}  // namespace ixc
