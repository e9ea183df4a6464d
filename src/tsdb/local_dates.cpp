#include "tsdb/local_dates.h"

#include <time.h>

#include <climits>
#include <ctime>

#include "erp/local_time.h"

namespace ixc {
namespace {

constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kDay = 24 * kHour;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  auto yoe = static_cast<unsigned>(y - era * 400);
  unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

long utc_offset(std::int64_t seconds) {
  auto time = static_cast<time_t>(seconds);
  std::tm tm{};
  if (localtime_r(&time, &tm) == nullptr) return LONG_MIN;
  return tm.tm_gmtoff;
}

// A local day whose instants from a day before its midnight to a day after its end all share
// one offset holds no transition, and none of its times repeats one outside it.
bool uniform_around(std::int64_t midnight) {
  long offset = utc_offset(midnight);
  if (offset == LONG_MIN) return false;
  for (std::int64_t at = midnight - kDay; at <= midnight + 2 * kDay; at += 3 * kHour) {
    if (utc_offset(at) != offset) return false;
  }
  return true;
}

}  // namespace

const LocalDates::Day& LocalDates::day(std::int64_t number, const LocalDateTime& local) {
  Day& slot = days_[static_cast<std::uint64_t>(number) % days_.size()];
  if (slot.number != number) {
    slot.number = number;
    slot.midnight = epoch_seconds(LocalDateTime{local.year, local.month, local.day, 0, 0, 0});
    slot.uniform = uniform_around(slot.midnight);
  }
  return slot;
}

TimestampMicros LocalDates::micros(const LocalDateTime& local) {
  if (is_calendar_date_time(local)) {
    std::int64_t number = days_from_civil(local.year, static_cast<unsigned>(local.month),
                                          static_cast<unsigned>(local.day));
    const Day& found = day(number, local);
    if (found.uniform) {
      std::int64_t seconds = found.midnight + local.hour * kHour + local.minute * 60 + local.second;
      return TimestampMicros{seconds * 1000000};
    }
  }
  return TimestampMicros{epoch_seconds(local) * 1000000};
}

}  // namespace ixc
