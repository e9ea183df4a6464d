#pragma once

#include <cstddef>

/// The generated data behind is_printable (text/printable.h): the code points that are not
/// printable, as inclusive ranges in ascending order, disjoint and not adjacent. Defined in
/// the build tree by src/text/gen/make_printable_table.cpp; read only by text/printable.cpp.
namespace ixc::unicode_table {

struct CodeRange {
  char32_t first;
  char32_t last;
};

extern const CodeRange kNotPrintable[];
extern const std::size_t kNotPrintableCount;

}  // namespace ixc::unicode_table
