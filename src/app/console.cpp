#include "app/console.h"

#include <unistd.h>

#include <cerrno>
#include <iostream>

namespace ixc {

void print_line(std::string_view line) {
  std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
  std::cout.put('\n');
}

void print_text(std::string_view text) {
  std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void print_error(std::string_view text) {
  flush_output();
  // One write(2) where the kernel takes it whole, so that a line is never torn.
  while (!text.empty()) {
    ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    text.remove_prefix(static_cast<size_t>(written));
  }
}

void flush_output() { std::cout.flush(); }

}  // namespace ixc
