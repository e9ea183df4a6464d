#pragma once
/// The stand-in's tables, in memory: column definitions as CREATE TABLE or the line protocol
/// made them, values held column by column, the designated timestamp and the DEDUP UPSERT keys.
/// Both endpoints work on one TableStore and hold its mutex for the whole of a request; the
/// functions here do not lock. Nothing is written to disk.
#include <cstdint>
#include <map>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "questdb_standin/text_index.h"

namespace ixc::standin {

enum class ColumnType { Boolean, Int, Long, Double, Symbol, String, Timestamp };

/// QuestDB's upper-case type names; type_from_name ignores case.
std::string_view type_name(ColumnType type);
std::optional<ColumnType> type_from_name(std::string_view name);

struct ColumnDefinition {
  std::string name;
  ColumnType type = ColumnType::Long;
  // SYMBOL only; SHOW COLUMNS reports zeros and false for other types.
  int symbol_capacity = 256;
  bool symbol_cached = true;
  bool indexed = false;
  int index_capacity = 0;
};

/// Cells are int64: integers, timestamps in microseconds, booleans as 0/1, doubles by their bit
/// pattern (NaN is null), SYMBOL and STRING values as an index into `texts`.
constexpr std::int64_t kNullCell = INT64_MIN;

struct Column {
  ColumnDefinition definition;
  bool upsert_key = false;
  std::vector<std::int64_t> cells;
  std::vector<std::string_view> texts;  // bytes in the table's arena
  TextIndex symbol_keys;                // SYMBOL: text -> index in texts
};

/// The bytes of a table's texts and upsert keys. A table of a hundred thousand rows would
/// otherwise hold over a million small heap blocks, and freeing them on TRUNCATE stalled that
/// request and the next one for tens of milliseconds.
using Arena = std::pmr::monotonic_buffer_resource;

struct Table {
  std::string name;
  std::vector<Column> columns;
  int designated = -1;
  std::string partition_by = "NONE";
  bool wal = false;
  // Write-ahead-log transactions: one per write request that touched the table and one per
  // TRUNCATE. The stand-in applies each at once, so the writer is never behind the sequencer.
  std::int64_t wal_txn = 0;
  std::size_t row_count = 0;
  std::unique_ptr<Arena> arena = std::make_unique<Arena>();
  TextIndex rows_by_key;  // encoded upsert keys -> row
};

struct TableStore {
  std::mutex mutex;
  std::map<std::string, Table> tables;  // by folded name
};

Table* find_table(TableStore& store, std::string_view name);
Table& add_table(TableStore& store, Table table);
void drop_table(TableStore& store, std::string_view name);

int find_column(const Table& table, std::string_view name);  // -1 when absent
void add_column(Table& table, const ColumnDefinition& definition);
/// Empties the table, keeping its columns; hands the arena's memory back at once.
void truncate_table(Table& table);

/// Makes `row` a row of nulls (false for BOOLEAN) as wide as the table, to be filled and stored.
void blank_row(const Table& table, std::vector<std::int64_t>& row);
std::int64_t double_cell(double value);
double cell_double(std::int64_t cell);
/// The cell for a text in a column of `table`: SYMBOL reuses the index of an equal text, STRING
/// always adds one.
std::int64_t text_cell(Table& table, Column& column, std::string_view text);

/// Appends the row, or replaces the row whose upsert key columns hold the same values.
void store_row(Table& table, std::span<const std::int64_t> row);

/// Row indexes ordered by the designated timestamp, rows of equal time in storing order.
std::vector<std::size_t> rows_in_time_order(const Table& table);

}  // namespace ixc::standin
