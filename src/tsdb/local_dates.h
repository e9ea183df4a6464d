#pragma once
/// The local date-times of one write pass as timestamp field values: microseconds since the
/// epoch of the instant that epoch_seconds() (erp/local_time.h) gives. A time of a repeated
/// fall-back hour denotes two instants, and mktime() itself picks one or the other depending on
/// its previous call; here too it may be either.
///
/// With TZ unset, mktime() re-reads the state of the zone file on every call, which made the
/// dates the dearest part of a pass of 300 000 customers. The converter asks mktime() once per
/// local day, for its midnight, and adds the time of day, on days whose UTC offset stays the
/// same from a day before to a day after (sampled every three hours); every other date - near
/// a transition, or with a field out of range - goes to epoch_seconds() itself. Days are kept
/// by their number, 44 years of them without one evicting another.
#include <cstdint>
#include <vector>

#include "erp/client_row.h"
#include "tsdb/line_protocol.h"

namespace ixc {

struct LocalDates {
  LocalDates() : days_(16384) {}
  TimestampMicros micros(const LocalDateTime& local);

 private:
  struct Day {
    std::int64_t number = INT64_MIN;  // days since 1970-01-01 of the local date
    std::int64_t midnight = 0;        // its epoch seconds
    bool uniform = false;             // one UTC offset around the whole day
  };
  const Day& day(std::int64_t number, const LocalDateTime& local);

  std::vector<Day> days_;
};

}  // namespace ixc
