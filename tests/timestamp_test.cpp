// The run timestamp: the double-precision arithmetic on a clock reading, and the reading itself.
#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <string>

#include "erp/timestamp.h"
#include "support/time_zone.h"

namespace ixc {
namespace {

TEST(TimestampArithmetic, IsTheTruncatedDoubleProductNotTheExactNanoseconds) {
  // Expected values are what CPython gives for int((s + us / 1e6) * 1000000000).
  struct Case {
    std::int64_t seconds, micros, expected;
  };
  for (const Case& c : {
           Case{1700000000, 123456, 1700000000123456000},
           Case{1700000000, 1, 1700000000000001024},       // not a multiple of 1000
           Case{1733700000, 999999, 1733700000999998976},  // below the exact value
           Case{2000000000, 654321, 2000000000654320896},  // near the end of the 2^60 range
           Case{1, 999999, 1999998999},                    // 1999998999.9999998 truncated
           Case{0, 1, 1000},
           Case{0, 0, 0},
       }) {
    EXPECT_EQ(timestamp_nanoseconds(c.seconds, c.micros), c.expected)
        << c.seconds << " s + " << c.micros << " us";
  }
}

TEST(TimestampArithmetic, LastDigitsCarryTheRoundingOfPresentDayProducts) {
  // Between 2^60 and 2^61 adjacent doubles are 256 apart: every result is a multiple of 256.
  // The seconds (ulp 2^-22 near 1.75e9) and the product are each rounded once, so a result
  // lies within 119 + 128 ns of the exact value; most are not multiples of 1000.
  int not_thousands = 0;
  for (std::int64_t micros = 0; micros < 1000; ++micros) {
    std::int64_t value = timestamp_nanoseconds(1750000000, micros);
    std::int64_t exact = (1750000000LL * 1000000 + micros) * 1000;
    EXPECT_EQ(value % 256, 0) << micros;
    EXPECT_LE(std::llabs(value - exact), 256) << micros;
    if (value % 1000 != 0) ++not_thousands;
  }
  EXPECT_GT(not_thousands, 500);
}

std::int64_t clock_micros() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// The value lies on the instant of the call, in epoch time, whatever the zone.
void expect_on_the_clock() {
  std::int64_t before = clock_micros();
  std::int64_t value = get_timestamp();
  std::int64_t after = clock_micros();
  EXPECT_GE(value, before * 1000 - 256);
  EXPECT_LE(value, after * 1000 + 256);
}

TEST(TimestampReading, IsTheEpochInstantAndIgnoresTheProcessTimeZone) {
  for (const char* zone : {"UTC", "America/Sao_Paulo", "Pacific/Chatham", "Europe/London", "<-03>3",
                           "XYZ-14", "Australia/Lord_Howe"}) {
    SCOPED_TRACE(zone);
    test::InZone in_zone(zone);
    expect_on_the_clock();
  }
}

TEST(TimestampReading, NeverDecreasesWhileTheClockRunsForward) {
  std::int64_t previous = get_timestamp();
  for (int i = 0; i < 200000; ++i) {
    std::int64_t value = get_timestamp();
    ASSERT_GE(value, previous) << "call " << i;
    previous = value;
  }
}

}  // namespace
}  // namespace ixc
