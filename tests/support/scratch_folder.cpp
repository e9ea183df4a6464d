#include "support/scratch_folder.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace ixc::test {

ScratchFolder::ScratchFolder() {
  char folder[] = "/tmp/ixc-test.XXXXXX";
  if (!mkdtemp(folder)) throw std::runtime_error("mkdtemp failed for a test's scratch folder");
  path = folder;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string ScratchFolder::write(const std::string& name, const std::string& text) const {
  std::string file = path + "/" + name;
  std::ofstream(file, std::ios::binary) << text;
  return file;
}

}  // namespace ixc::test
