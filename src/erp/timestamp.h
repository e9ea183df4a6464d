#pragma once
/// The run timestamp that both QuestDB writers stamp on every row of a write pass: the wall
/// clock in nanoseconds since the Unix epoch, computed in double precision. The product of the
/// seconds and 1e9 is a double between 2^60 and 2^61 for present-day times, so the last digits
/// carry that rounding and the value is usually not a multiple of 1000; it is truncated, never
/// rounded up. The result does not depend on the process's time zone.
#include <cstdint>

namespace ixc {

/// The current time, read from the real-time clock and cut to whole microseconds.
std::int64_t get_timestamp();

/// The arithmetic of get_timestamp for one clock reading of `seconds` and `microseconds` since
/// the epoch: (seconds + microseconds / 1e6) as a double, times 1e9 in double, truncated.
std::int64_t timestamp_nanoseconds(std::int64_t seconds, std::int64_t microseconds);

}  // namespace ixc
