#pragma once
/// The /exec answers about the server itself and its write-ahead log, as QuestDB 8.0 gives them:
///   SELECT build()                one row, "Build Information: QuestDB ..." in a column `build`
///   SELECT * FROM wal_tables()    one row per WAL table: name, suspended, writerTxn,
///                                 writerLagTxnCount, sequencerTxn, errorTag, errorMessage
///   SELECT max(c) FROM t          the largest value of a TIMESTAMP, INT or LONG column, null
///                                 for an empty table, in a column `max`
///   ALTER TABLE t SUSPEND WAL     as a server in dev mode takes it (others refuse it): the
///                                 table's rows are then accepted by /write and held, not applied
///   ALTER TABLE t RESUME WAL      applies the held rows and takes new ones again
/// Transaction numbers count /write requests: each that reaches a WAL table is one sequencer
/// transaction, applied (writerTxn) unless the table is suspended.
#include <string>
#include <string_view>

#include "questdb_standin/exec_reply.h"
#include "questdb_standin/table_store.h"

namespace ixc::standin {

ExecReply build_reply(std::string_view query);
ExecReply wal_tables_reply(std::string_view query, const TableStore& store);
ExecReply max_reply(std::string_view query, const Table& table, const std::string& column,
                    int position);
ExecReply suspend_wal(std::string_view query, Table& table, int position);
ExecReply resume_wal(std::string_view query, Table& table, int position);

}  // namespace ixc::standin
