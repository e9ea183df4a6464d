#pragma once
/// The statements that /exec understands, read as QuestDB's SQL reads them (keywords in any case,
/// names bare or quoted, an optional closing semicolon):
///   SHOW COLUMNS FROM t
///   CREATE TABLE [IF NOT EXISTS] t (c TYPE [CAPACITY n] [CACHE|NOCACHE] [INDEX [CAPACITY n]], ...)
///       [TIMESTAMP(c)] [PARTITION BY NONE|HOUR|DAY|WEEK|MONTH|YEAR] [WAL|BYPASS WAL]
///       [DEDUP UPSERT KEYS(c, ...)]
///   ALTER TABLE t ADD COLUMN c TYPE [...], ...
///   TRUNCATE TABLE t          DROP TABLE [IF EXISTS] t
///   SELECT * FROM t           SELECT count() FROM t
///   SELECT * FROM wal_tables()                SELECT build()
/// Only the grammar is checked here; whether tables and columns exist is the runner's business.
/// Positions are byte offsets into the statement, as QuestDB reports them.
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "questdb_standin/table_store.h"

namespace ixc::standin {

enum class StatementKind {
  ShowColumns,
  CreateTable,
  AddColumns,
  Truncate,
  Drop,
  SelectAll,
  Count,
  WalTables,
  Build
};

struct NameAt {
  std::string text;
  int position = 0;
};

struct ColumnAt {
  ColumnDefinition definition;
  int position = 0;
};

struct Statement {
  StatementKind kind = StatementKind::ShowColumns;
  NameAt table;
  bool if_exists = false;  // IF NOT EXISTS for CREATE, IF EXISTS for DROP
  std::vector<ColumnAt> columns;
  // CREATE TABLE clauses; position 0 means the clause is absent.
  NameAt designated;
  std::string partition_by = "NONE";
  int partition_position = 0;
  int wal_position = 0;
  bool wal = false;
  bool bypass_wal = false;
  std::vector<NameAt> upsert_keys;
  int dedup_position = 0;
};

struct SqlError : std::runtime_error {
  SqlError(const std::string& message, int at) : std::runtime_error(message), position(at) {}
  int position;
};

Statement parse_statement(std::string_view sql);

}  // namespace ixc::standin
