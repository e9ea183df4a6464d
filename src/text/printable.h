#pragma once

/// Python's notion of a printable character, which decides what repr() writes as itself
/// and what it escapes: every code point is printable except those of the general
/// categories Cc, Cf, Cs, Co, Cn (unassigned), Zl, Zp and Zs, the ASCII blank excepted.
/// The categories come from the system's UnicodeData.txt through a table generated at build
/// time (src/text/gen/); that file may be a newer Unicode version than the one of the earlier
/// collector's interpreter, in which case only characters assigned since differ.
namespace ixc {

bool is_printable(char32_t cp);

}  // namespace ixc
