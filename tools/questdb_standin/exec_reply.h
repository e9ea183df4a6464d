#pragma once
/// Runs one /exec query against the table store and answers as QuestDB does: 200 with
/// {"ddl":"OK"} for CREATE, ALTER, TRUNCATE and DROP; 200 with the column listing or the result
/// set for SHOW COLUMNS and SELECT; 400 with {"query","error","position"} for a refusal, among
/// them "table does not exist [table=t]", "table already exists" and
/// "column 'c' already exists". Bodies have no trailing newline.
#include <string>
#include <string_view>

#include "questdb_standin/server_options.h"
#include "questdb_standin/table_store.h"

namespace ixc::standin {

struct ExecReply {
  int status = 200;
  std::string body;
};

/// Answers as the given QuestDB release line where they differ (column listings, wal_tables(),
/// build()). The caller holds store.mutex.
ExecReply run_exec(TableStore& store, std::string_view query, ServerVersion version);

}  // namespace ixc::standin
