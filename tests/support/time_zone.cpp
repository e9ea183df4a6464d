#include "support/time_zone.h"

#include <time.h>

#include <cstdlib>

namespace ixc::test {

InZone::InZone(const char* zone) {
  if (const char* saved = std::getenv("TZ")) saved_ = saved;
  setenv("TZ", zone, 1);
  tzset();
}

InZone::~InZone() {
  if (saved_) {
    setenv("TZ", saved_->c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace ixc::test
