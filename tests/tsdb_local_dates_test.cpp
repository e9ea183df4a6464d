// The date conversion of the client rows gives what epoch_seconds() gives, in zones with
// daylight saving at midnight, half-hour shifts and a skipped day, around every transition.
#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <random>
#include <string>

#include "erp/local_time.h"
#include "support/time_zone.h"
#include "tsdb/local_dates.h"

namespace ixc {
namespace {

using test::InZone;

// The instant of epoch_seconds(), or - for a time of a repeated fall-back hour, where mktime()
// itself picks either instant depending on its previous call - the other instant that shows it.
void expect_same(LocalDates& dates, const LocalDateTime& t) {
  std::int64_t micros = dates.micros(t).micros;
  std::int64_t expected = epoch_seconds(t);
  ASSERT_EQ(micros % 1000000, 0);
  if (micros / 1000000 == expected) return;
  ASSERT_EQ(local_date_time(micros / 1000000), t)
      << t.year << "-" << t.month << "-" << t.day << " " << t.hour << ":" << t.minute << ":"
      << t.second << " gave " << micros / 1000000 << ", not " << expected;
  ASSERT_EQ(local_date_time(expected), t);
}

// Every local quarter hour (and a few odd seconds) of the days from `first` on.
void sweep(LocalDates& dates, LocalDateTime first, int day_count) {
  for (int d = 0; d < day_count; ++d) {
    LocalDateTime day = local_date_time(epoch_seconds(first) + d * 86400LL + 43200);
    for (int minutes = 0; minutes < 24 * 60; minutes += 15) {
      expect_same(dates, {day.year, day.month, day.day, minutes / 60, minutes % 60, 0});
      expect_same(dates, {day.year, day.month, day.day, minutes / 60, minutes % 60, 59});
    }
  }
}

TEST(LocalDates, MatchEpochSecondsAroundTransitions) {
  struct Window {
    const char* zone;
    LocalDateTime first;
    int days;
  };
  for (const Window& w : {
           Window{"America/Sao_Paulo", {2018, 10, 30}, 10},  // spring forward at midnight
           Window{"America/Sao_Paulo", {2019, 2, 12}, 10},   // fall back at midnight
           Window{"Europe/London", {2023, 3, 23}, 6},
           Window{"Europe/London", {2023, 10, 26}, 6},
           Window{"Australia/Lord_Howe", {2023, 9, 28}, 6},  // half-hour shift
           Window{"Australia/Lord_Howe", {2024, 4, 4}, 6},
           Window{"Pacific/Apia", {2011, 12, 26}, 8},  // 2011-12-30 does not exist
           Window{"America/St_Johns", {2024, 3, 6}, 6},
           Window{"UTC", {2024, 2, 26}, 6},
       }) {
    SCOPED_TRACE(w.zone);
    InZone zone(w.zone);
    LocalDates dates;
    sweep(dates, w.first, w.days);
  }
}

TEST(LocalDates, MatchEpochSecondsOnRandomDatesOfFourDecades) {
  std::mt19937 random(20240607);
  for (const char* zone : {"America/Sao_Paulo", "America/Recife", "Europe/Lisbon"}) {
    SCOPED_TRACE(zone);
    InZone in_zone(zone);
    LocalDates dates;
    for (int i = 0; i < 20000; ++i) {
      LocalDateTime t =
          local_date_time(631152000 + static_cast<std::int64_t>(random() % 1262304000));
      expect_same(dates, t);
      expect_same(dates, t);  // the second time from the cache
    }
  }
}

TEST(LocalDates, FieldsOutOfRangeAreLeftToMktime) {
  InZone zone("America/Sao_Paulo");
  LocalDates dates;
  for (const LocalDateTime& t :
       {LocalDateTime{2023, 2, 29, 10, 0, 0}, LocalDateTime{2024, 2, 30, 10, 0, 0},
        LocalDateTime{2024, 13, 1, 0, 0, 0}, LocalDateTime{2024, 0, 1, 0, 0, 0},
        LocalDateTime{2024, 5, 10, 24, 0, 0}, LocalDateTime{2024, 5, 10, 23, 59, 60},
        LocalDateTime{2024, 5, 0, 12, 0, 0}, LocalDateTime{1969, 12, 31, 23, 59, 59},
        LocalDateTime{1900, 1, 1, 0, 0, 0}}) {
    expect_same(dates, t);
  }
}

}  // namespace
}  // namespace ixc
