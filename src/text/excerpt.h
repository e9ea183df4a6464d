#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// The start of bytes that a peer sent, for an error text that must stay on one line whatever
/// the peer sent: at most `limit` bytes, CR and LF as \r and \n, every other control byte and
/// DEL as \xNN, "..." after a cut. Other bytes, UTF-8 or not, pass as they are.
namespace ixc {

std::string one_line_excerpt(std::string_view bytes, std::size_t limit);

}  // namespace ixc
