#pragma once
/// Hands a "launch_" mode to the companion jobs that the run offers: the job whose mode text is
/// the whole mode runs; any other such mode returns at once and the run ends with status 0. A
/// job's failure propagates and ends the run with status 1. The jobs come from the caller, so
/// that this library knows none of the program's own.
#include <functional>
#include <span>
#include <string_view>

namespace kestrelkit {

struct LaunchJob {
  std::string_view mode;  // "launch_verificar"
  std::function<void()> run;
};

void launch(std::string_view mode, std::span<const LaunchJob> jobs);

}  // namespace kestrelkit
