#include <string>
#include <vector>

#include "app/run.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  ixc::mask_password_argument(argc, argv);
  return ixc::run(args, ixc::RunOptions{});
}
