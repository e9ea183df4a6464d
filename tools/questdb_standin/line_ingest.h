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
/// - the designated column cannot hold an instant before 1970-01-01T00:00:00Z;
/// - QuestDB 9 takes no integer field into the designated column at all.
/// Throws LineProtocolError for the first bad line, or RowWriteError for the first line whose
/// row cannot be written, leaving the store as it was either way.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "questdb_standin/line_protocol.h"
#include "questdb_standin/server_options.h"
#include "questdb_standin/table_store.h"

namespace ixc::standin {

/// QuestDB raises these while it writes the row, not while it parses the line, and answers
/// them with status 500 instead of the 400 of a parse error. The text is what the server's
/// message gives after "write error: TABLE, ".
struct RowWriteError : std::runtime_error {
  RowWriteError(int line_number, const std::string& table_name, const std::string& text)
      : std::runtime_error(text), line(line_number), table(table_name) {}
  int line;
  std::string table;
};

/// `nanos_per_unit` is 1 for precision=n, 1000 for u, and so on. The caller holds store.mutex.
void ingest_lines(TableStore& store, std::string_view body, std::int64_t nanos_per_unit,
                  std::int64_t now_micros, ServerVersion version);

}  // namespace ixc::standin
