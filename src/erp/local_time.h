#pragma once
/// Local civil time of the host's time zone, as the C library's rules resolve it: a local
/// date-time that does not exist (a spring-forward gap) or exists twice (a fall-back hour) is
/// mapped the way mktime() with tm_isdst = -1 maps it.
#include <cstdint>

#include "erp/client_row.h"

namespace ixc {

/// True when `local` names a day of the proleptic Gregorian calendar and a time from 00:00:00
/// to 23:59:59.
bool is_calendar_date_time(const LocalDateTime& local);

/// Seconds since the Unix epoch of `local`, read as local time in the host's time zone.
std::int64_t epoch_seconds(const LocalDateTime& local);

/// The local date-time of the host's time zone at `seconds` since the Unix epoch.
LocalDateTime local_date_time(std::int64_t seconds);

}  // namespace ixc
