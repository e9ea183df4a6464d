#include "vendor/launch.h"

namespace kestrelkit {

void launch(std::string_view mode, std::span<const LaunchJob> jobs) {
  for (const LaunchJob& job : jobs) {
    if (job.mode == mode) return job.run();
  }
}

}  // namespace kestrelkit
