#pragma once
/// The run-time limit of one run. `runtime_limiter(seconds)` opens it and returns a guard that
/// closes it on scope exit. While it is open, every blocking wait of the program asks
/// `time_left()` how long it may wait and raises `TimeoutException` once nothing is left; the
/// limit then stays spent, so a catch-all that swallows one timeout meets the next at the next
/// wait. A wait that cannot be bounded (a stuck name resolution) is cut by a backstop alarm a
/// little after the limit, which prints the timeout text and ends the process with status 0.
/// With no limit open, waits are unbounded.
#include <chrono>
#include <stdexcept>
#include <string>

namespace kestrelkit {

struct TimeoutException : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class RuntimeLimiter {
 public:
  explicit RuntimeLimiter(std::chrono::milliseconds limit);
  ~RuntimeLimiter();
  RuntimeLimiter(const RuntimeLimiter&) = delete;
  RuntimeLimiter& operator=(const RuntimeLimiter&) = delete;
};

/// A narrower limit for one step of a run, inside the open one: while it is open, time_left()
/// counts to whichever ends first. A step whose own limit runs out raises StepTimeout, which is
/// a TimeoutException, so that every wait stops the same way; the run's limit stays as it was
/// and is met again once the step is closed. Steps do not nest.
class StepLimiter {
 public:
  explicit StepLimiter(std::chrono::milliseconds limit);
  ~StepLimiter();
  StepLimiter(const StepLimiter&) = delete;
  StepLimiter& operator=(const StepLimiter&) = delete;
};

struct StepTimeout : TimeoutException {
  using TimeoutException::TimeoutException;
};

/// Opens the limit for `limit_seconds` seconds (the program passes RUNTIME_LIMIT), or for
/// `limit` (its test build, to watch a limit run out in a second).
[[nodiscard]] RuntimeLimiter runtime_limiter(int limit_seconds);
[[nodiscard]] RuntimeLimiter runtime_limiter(std::chrono::milliseconds limit);

/// Time left of the open limit (or of the open step, when that ends first); raises
/// TimeoutException when the limit is spent and StepTimeout when the step is. Returns
/// `kUnlimited` when neither is open.
std::chrono::milliseconds time_left();
inline constexpr std::chrono::milliseconds kUnlimited = std::chrono::hours(24 * 365);

/// Raises TimeoutException when the open limit is spent; does nothing otherwise.
void check_time_left();

/// Milliseconds for a poll() call: the time left, capped at `cap`; raises when spent.
int poll_timeout_ms(std::chrono::milliseconds cap = std::chrono::seconds(3600));

/// The text that a spent limit raises with.
std::string timeout_text();

}  // namespace kestrelkit
