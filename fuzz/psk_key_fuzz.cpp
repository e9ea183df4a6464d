// The PSK key file reader takes exactly what zabbix_sender takes - 32 to 512 hex digits, an even
// number of them, blanks and line breaks around them - and refuses anything else with
// TlsKeyError, whose text never shows the key: no run of eight hex digits appears in it. The
// input is written to a file whose path holds no such run either.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "vendor/tls_psk.h"

namespace {

bool is_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v'; }

// What the reader must accept: the first bytes it reads, trimmed, all hex, 32..512, even.
bool acceptable(std::string_view text) {
  text = text.substr(0, 512 + 64);
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  if (text.size() < 32 || text.size() > 512 || text.size() % 2 != 0) return false;
  for (char c : text) {
    if (!is_hex(c)) return false;
  }
  return true;
}

bool shows_hex_run(std::string_view text) {
  int run = 0;
  for (char c : text) {
    run = is_hex(c) ? run + 1 : 0;
    if (run >= 8) return true;
  }
  return false;
}

std::string key_path() {
  const char* folder = std::getenv("TMPDIR");
  return std::string(folder && *folder ? folder : "/tmp") + "/ixc_psk_fuzz_key";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = key_path();
  if (shows_hex_run(path)) return 0;  // a TMPDIR that would make the property meaningless
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) std::abort();
  std::fwrite(input.data(), 1, input.size(), file);
  std::fclose(file);

  try {
    kestrelkit::PskCredentials credentials = kestrelkit::load_psk_credentials("ixc", path);
    FUZZ_REQUIRE(acceptable(input), input);
  } catch (const kestrelkit::TlsKeyError& error) {
    FUZZ_REQUIRE(!acceptable(input), input);
    FUZZ_REQUIRE(!shows_hex_run(error.what()), std::string(error.what()));
  }
  return 0;
}
