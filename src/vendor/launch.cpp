#include "vendor/launch.h"

namespace kestrelkit {

void launch(std::string_view /*mode*/) {}

}  // namespace kestrelkit
