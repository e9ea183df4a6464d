#include "erp/local_time.h"

#include <ctime>
#include <stdexcept>
#include <string>

namespace ixc {

std::int64_t epoch_seconds(const LocalDateTime& local) {
  std::tm tm{};
  tm.tm_year = local.year - 1900;
  tm.tm_mon = local.month - 1;
  tm.tm_mday = local.day;
  tm.tm_hour = local.hour;
  tm.tm_min = local.minute;
  tm.tm_sec = local.second;
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
}

LocalDateTime local_date_time(std::int64_t seconds) {
  std::time_t time = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (localtime_r(&time, &tm) == nullptr) {
    throw std::runtime_error("data fora do intervalo representável: " + std::to_string(seconds));
  }
  return LocalDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                       tm.tm_hour,        tm.tm_min,     tm.tm_sec};
}

}  // namespace ixc
