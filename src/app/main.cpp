#include <string>
#include <vector>

#include "app/run.h"

int main(int argc, char** argv) {
  return ixc::run(std::vector<std::string>(argv, argv + argc), ixc::RunOptions{});
}
