#pragma once
/// The /exec answers that the check job asks for besides build() and wal_tables():
///   SELECT max(c) FROM t          the largest value of a TIMESTAMP, INT or LONG column, null
///                                 for an empty table, in a column `max`
///   ALTER TABLE t SUSPEND WAL     as a server in dev mode takes it (others refuse it): the
///                                 table's rows are then accepted by /write and held, not applied
///   ALTER TABLE t RESUME WAL      applies the held rows and takes new ones again
/// While a table is suspended, wal_tables() shows it so, with writerTxn behind sequencerTxn by
/// the write requests it holds.
#include <string>
#include <string_view>

#include "questdb_standin/exec_reply.h"
#include "questdb_standin/table_store.h"

namespace ixc::standin {

ExecReply max_reply(std::string_view query, const Table& table, const std::string& column,
                    int position);
ExecReply suspend_wal(std::string_view query, Table& table, int position);
ExecReply resume_wal(std::string_view query, Table& table, int position);

}  // namespace ixc::standin
