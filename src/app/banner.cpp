#include "app/banner.h"

#include "app/console.h"
#include "app/deployment.h"

namespace ixc {

std::string banner_path_line(std::string_view program_path) {
  std::string line;
  for (size_t i = 0; i < program_path.size(); ++i) {
    if (program_path.substr(i, 2) == "./") {
      line += ' ';
      ++i;
    } else {
      line += program_path[i];
    }
  }
  line += "  ";
  line += VERSION;
  return line;
}

int get_version(std::string_view program_path) {
  print_line(deployment::kRightsNotice);
  print_line(banner_path_line(program_path));
  return 0;
}

}  // namespace ixc
