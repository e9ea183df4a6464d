#pragma once
/// Stores the lines of one /write request in the table store, all or nothing, with QuestDB's
/// casts and timestamp rules:
/// - a missing table is created (tags as SYMBOL, then fields, then the designated `timestamp`,
///   partitioned by day); a field for a missing column adds the column;
/// - a string fits SYMBOL and STRING, an integer fits INT, LONG, DOUBLE (as a double) and
///   TIMESTAMP; every other mix is a cast error;
/// - a field named like the designated column replaces the line timestamp, an integer read as
///   nanoseconds and a `t` value as microseconds; into other TIMESTAMP columns both are
///   microseconds; without that field the line timestamp (or the time of the request) is used;
/// - of a column named twice in one line the first value counts;
/// - the designated column cannot hold an instant before 1970-01-01T00:00:00Z.
/// Throws LineProtocolError for the first bad line, or TimestampBeforeEpoch for the first line
/// whose designated instant lies before the epoch, leaving the store as it was either way.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "questdb_standin/line_protocol.h"
#include "questdb_standin/table_store.h"

namespace ixc::standin {

/// QuestDB raises this while it writes the row, not while it parses the line, and answers it
/// with status 500 instead of the 400 of a parse error.
struct TimestampBeforeEpoch : std::runtime_error {
  TimestampBeforeEpoch(int line_number, const std::string& table_name)
      : std::runtime_error("timestamp before 1970-01-01 is not allowed"),
        line(line_number),
        table(table_name) {}
  int line;
  std::string table;
};

/// `nanos_per_unit` is 1 for precision=n, 1000 for u, and so on. The caller holds store.mutex.
void ingest_lines(TableStore& store, std::string_view body, std::int64_t nanos_per_unit,
                  std::int64_t now_micros);

}  // namespace ixc::standin
