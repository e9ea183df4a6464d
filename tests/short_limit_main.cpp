// The program as shipped, but with the run-time limit taken from IXC_TEST_LIMIT_MS, so that
// tests can watch a limit run out in a second instead of fifteen minutes.
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/run.h"

int main(int argc, char** argv) {
  const char* text = std::getenv("IXC_TEST_LIMIT_MS");
  auto limit = text ? std::chrono::milliseconds(std::atol(text))
                    : std::chrono::milliseconds(std::chrono::seconds(ixc::RUNTIME_LIMIT));
  return ixc::run(std::vector<std::string>(argv, argv + argc), limit);
}
