#pragma once
/// A throwaway folder under /tmp (mktemp -d), removed with everything in it when the value goes
/// out of scope: key files, certificates, generated data.
#include <string>

namespace ixc::test {

struct ScratchFolder {
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  /// Writes `text` to the file `name` of the folder; returns its path.
  std::string write(const std::string& name, const std::string& text) const;

  std::string path;
};

}  // namespace ixc::test
