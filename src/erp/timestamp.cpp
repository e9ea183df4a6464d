#include "erp/timestamp.h"

#include <time.h>

namespace ixc {

std::int64_t timestamp_nanoseconds(std::int64_t seconds, std::int64_t microseconds) {
  double epoch_seconds = static_cast<double>(seconds) + static_cast<double>(microseconds) / 1e6;
  double nanoseconds = epoch_seconds * 1000000000.0;
  return static_cast<std::int64_t>(nanoseconds);
}

std::int64_t get_timestamp() {
  // The epoch reading itself, not a local civil time mapped back through mktime(): the round
  // trip is the identity except in a fall-back hour, where it could land an hour off.
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return timestamp_nanoseconds(static_cast<std::int64_t>(now.tv_sec),
                               static_cast<std::int64_t>(now.tv_nsec / 1000));
}

}  // namespace ixc
