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
/// - of a column named twice in one line the first value counts.
/// Throws LineProtocolError for the first bad line, leaving the store as it was.
#include <cstdint>
#include <string_view>

#include "questdb_standin/line_protocol.h"
#include "questdb_standin/table_store.h"

namespace ixc::standin {

/// `nanos_per_unit` is 1 for precision=n, 1000 for u, and so on. The caller holds store.mutex.
void ingest_lines(TableStore& store, std::string_view body, std::int64_t nanos_per_unit,
                  std::int64_t now_micros);

}  // namespace ixc::standin
