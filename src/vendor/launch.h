#pragma once
/// Hands a "launch_" mode to the companion jobs. This installation ships no companion job, so
/// every such mode returns at once and the run ends with status 0.
#include <string_view>

namespace kestrelkit {

void launch(std::string_view mode);

}  // namespace kestrelkit
