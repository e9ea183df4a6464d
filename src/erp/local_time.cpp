#include "erp/local_time.h"

#include <ctime>
#include <stdexcept>
#include <string>

namespace ixc {

bool is_calendar_date_time(const LocalDateTime& t) {
  static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.month < 1 || t.month > 12 || t.day < 1) return false;
  bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
  int month_days = kMonthDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
  return t.day <= month_days && t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 &&
         t.second >= 0 && t.second < 60;
}

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
