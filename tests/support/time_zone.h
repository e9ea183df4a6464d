#pragma once
/// Sets the process's time zone (TZ) for the life of the value and restores the previous one,
/// so that tests can watch local-time conversions in zones with daylight saving.
#include <optional>
#include <string>

namespace ixc::test {

class InZone {
 public:
  explicit InZone(const char* zone);
  ~InZone();
  InZone(const InZone&) = delete;
  InZone& operator=(const InZone&) = delete;

 private:
  std::optional<std::string> saved_;
};

}  // namespace ixc::test
