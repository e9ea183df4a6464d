#include "text/printable.h"

#include <algorithm>

#include "text/unicode_table.h"

namespace ixc {

bool is_printable(char32_t cp) {
  if (cp < 0x7F) return cp >= 0x20;
  if (cp > 0x10FFFF) return false;
  using unicode_table::CodeRange;
  const CodeRange* begin = unicode_table::kNotPrintable;
  const CodeRange* end = begin + unicode_table::kNotPrintableCount;
  const CodeRange* hit =
      std::lower_bound(begin, end, cp, [](const CodeRange& r, char32_t c) { return r.last < c; });
  return hit == end || cp < hit->first;
}

}  // namespace ixc
