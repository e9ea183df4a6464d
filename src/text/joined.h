#pragma once

#include <string>
#include <string_view>
#include <vector>

/// The parts in order with `separator` between them, and `last_separator` before the last one:
/// joined({"a", "b", "c"}, ", ", " e ") is "a, b e c".
namespace ixc {

inline std::string joined(const std::vector<std::string>& parts, std::string_view separator = ", ",
                          std::string_view last_separator = ", ") {
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += i + 1 == parts.size() ? last_separator : separator;
    text += parts[i];
  }
  return text;
}

}  // namespace ixc
