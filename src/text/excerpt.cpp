#include "text/excerpt.h"

namespace ixc {

std::string one_line_excerpt(std::string_view bytes, std::size_t limit) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
    auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte >= 0x20 && byte != 0x7f) {
      shown.push_back(bytes[i]);
    } else if (byte == '\r') {
      shown.append("\\r");
    } else if (byte == '\n') {
      shown.append("\\n");
    } else {
      shown.append("\\x").push_back(kHex[byte >> 4]);
      shown.push_back(kHex[byte & 0x0f]);
    }
  }
  if (bytes.size() > limit) shown.append("...");
  return shown;
}

}  // namespace ixc
