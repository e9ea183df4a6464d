#include "questdb_standin/exec_reply.h"

#include "questdb_standin/json_text.h"
#include "questdb_standin/names.h"
#include "questdb_standin/server_functions.h"
#include "questdb_standin/sql_statement.h"

namespace ixc::standin {

namespace {

const char kDdlOk[] = "{\"ddl\":\"OK\"}";

// The columns of a result: name and QuestDB type of each.
using ResultColumns = std::vector<std::pair<std::string_view, std::string_view>>;

// SHOW COLUMNS: 9.x adds the number of distinct symbols after the capacity.
ResultColumns listing_columns(ServerVersion version) {
  ResultColumns columns = {{"column", "STRING"},        {"type", "STRING"},
                           {"indexed", "BOOLEAN"},      {"indexBlockCapacity", "INT"},
                           {"symbolCached", "BOOLEAN"}, {"symbolCapacity", "INT"},
                           {"designated", "BOOLEAN"},   {"upsertKey", "BOOLEAN"}};
  if (version == ServerVersion::V9) columns.insert(columns.begin() + 6, {"symbolTableSize", "INT"});
  return columns;
}

// wal_tables(): 9.x replaces the writer's lag count by the buffered size and adds the memory
// pressure at the end.
ResultColumns wal_table_columns(ServerVersion version) {
  ResultColumns columns = {{"name", "STRING"},        {"suspended", "BOOLEAN"},
                           {"writerTxn", "LONG"},     {"writerLagTxnCount", "LONG"},
                           {"sequencerTxn", "LONG"},  {"errorTag", "STRING"},
                           {"errorMessage", "STRING"}};
  if (version == ServerVersion::V9) {
    columns[3].first = "bufferedTxnSize";
    columns.push_back({"memoryPressure", "INT"});
  }
  return columns;
}

void append_columns(std::string& out, const ResultColumns& columns) {
  out += '[';
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) out += ',';
    out += "{\"name\":";
    append_questdb_json_string(out, columns[i].first);
    out += ",\"type\":\"" + std::string(columns[i].second) + "\"}";
  }
  out += ']';
}

ExecReply refusal(std::string_view query, std::string_view error, int position) {
  return {400, exec_error_object(query, error, position)};
}

ExecReply missing_table(std::string_view query, const NameAt& table) {
  return refusal(query, "table does not exist [table=" + table.text + "]", table.position);
}

const char* boolean(bool value) { return value ? "true" : "false"; }

void open_result(std::string& out, std::string_view query) {
  out = "{\"query\":";
  append_questdb_json_string(out, query);
  out += ",\"columns\":";
}

ExecReply show_columns(std::string_view query, const Table& table, ServerVersion version) {
  std::string out;
  open_result(out, query);
  append_columns(out, listing_columns(version));
  out += ",\"timestamp\":-1,\"dataset\":[";
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const Column& column = table.columns[i];
    const ColumnDefinition& d = column.definition;
    bool symbol = d.type == ColumnType::Symbol;
    if (i > 0) out += ',';
    out += '[';
    append_questdb_json_string(out, d.name);
    out += ",\"" + std::string(type_name(d.type)) + "\",";
    out += boolean(symbol && d.indexed);
    out += ',' + std::to_string(symbol && d.indexed ? d.index_capacity : 0) + ',';
    out += boolean(symbol && d.symbol_cached);
    out += ',' + std::to_string(symbol ? d.symbol_capacity : 0) + ',';
    if (version == ServerVersion::V9) {
      out += std::to_string(symbol ? column.texts.size() : 0) + ',';
    }
    out += boolean(static_cast<int>(i) == table.designated);
    out += ',';
    out += boolean(column.upsert_key);
    out += ']';
  }
  out += "],\"count\":" + std::to_string(table.columns.size()) + "}";
  return {200, out};
}

void append_cell(std::string& out, const Column& column, std::int64_t cell) {
  switch (column.definition.type) {
    case ColumnType::Boolean:
      out += boolean(cell != 0);
      return;
    case ColumnType::Double:
      append_json_double(out, cell_double(cell));
      return;
    default:
      break;
  }
  if (cell == kNullCell) {
    out += "null";
    return;
  }
  switch (column.definition.type) {
    case ColumnType::Symbol:
    case ColumnType::String:
      append_questdb_json_string(out, column.texts[static_cast<size_t>(cell)]);
      return;
    case ColumnType::Timestamp:
      out += '"';
      append_iso_timestamp(out, cell);
      out += '"';
      return;
    default:
      out += std::to_string(cell);
  }
}

ExecReply select_all(std::string_view query, const Table& table) {
  std::string out;
  open_result(out, query);
  out += '[';
  for (size_t i = 0; i < table.columns.size(); ++i) {
    if (i > 0) out += ',';
    out += "{\"name\":";
    append_questdb_json_string(out, table.columns[i].definition.name);
    out += ",\"type\":\"" + std::string(type_name(table.columns[i].definition.type)) + "\"}";
  }
  out += "],\"timestamp\":" + std::to_string(table.designated) + ",\"dataset\":[";
  bool first_row = true;
  for (size_t row : rows_in_time_order(table)) {
    out += first_row ? "[" : ",[";
    first_row = false;
    for (size_t i = 0; i < table.columns.size(); ++i) {
      if (i > 0) out += ',';
      append_cell(out, table.columns[i], table.columns[i].cells[row]);
    }
    out += ']';
  }
  out += "],\"count\":" + std::to_string(table.row_count) + "}";
  return {200, out};
}

ExecReply count_rows(std::string_view query, const Table& table) {
  std::string out;
  open_result(out, query);
  out += "[{\"name\":\"count\",\"type\":\"LONG\"}],\"timestamp\":-1,\"dataset\":[[" +
         std::to_string(table.row_count) + "]],\"count\":1}";
  return {200, out};
}

ExecReply wal_tables(std::string_view query, const TableStore& store, ServerVersion version) {
  std::string out;
  open_result(out, query);
  append_columns(out, wal_table_columns(version));
  out += ",\"timestamp\":-1,\"dataset\":[";
  size_t count = 0;
  for (const auto& [folded, table] : store.tables) {
    if (!table.wal) continue;
    if (count++ > 0) out += ',';
    out += '[';
    append_questdb_json_string(out, table.name);
    std::string writer = std::to_string(table.wal_txn - table.held_txn);
    out += table.wal_suspended ? ",true," : ",false,";
    out += writer + ",0," + std::to_string(table.wal_txn) + ",\"\",\"\"";
    if (version == ServerVersion::V9) out += ",0";
    out += ']';
  }
  out += "],\"count\":" + std::to_string(count) + "}";
  return {200, out};
}

ExecReply build(std::string_view query, ServerVersion version) {
  std::string out;
  open_result(out, query);
  bool nine = version == ServerVersion::V9;
  append_columns(out, {{nine ? "build()" : "build", "STRING"}});
  out += ",\"timestamp\":-1,\"dataset\":[[";
  append_questdb_json_string(out,
                     std::string("Build Information: QuestDB ") + (nine ? "9.2.3" : "8.0.3") +
                         ", JDK 17.0.15, Commit Hash 0000000000000000000000000000000000000000");
  out += "]],\"count\":1}";
  return {200, out};
}

// The checks QuestDB makes on a column list before it changes anything.
std::optional<ExecReply> refuse_columns(std::string_view query, const Statement& statement,
                                        const Table* existing) {
  for (size_t i = 0; i < statement.columns.size(); ++i) {
    const ColumnAt& column = statement.columns[i];
    const std::string& name = column.definition.name;
    if (!valid_column_name(name)) {
      return refusal(query, "invalid column name [name=" + name + "]", column.position);
    }
    bool taken = existing != nullptr && find_column(*existing, name) >= 0;
    for (size_t j = 0; j < i && !taken; ++j) {
      taken = same_name(statement.columns[j].definition.name, name);
    }
    if (taken) {
      if (existing != nullptr) {
        return refusal(query, "column '" + name + "' already exists", column.position);
      }
      return refusal(query, "Duplicate column [name=" + name + "]", column.position);
    }
  }
  return std::nullopt;
}

std::optional<ExecReply> refuse_table_clauses(std::string_view query, const Statement& s,
                                              Table& table) {
  if (s.designated.position > 0) {
    table.designated = find_column(table, s.designated.text);
    if (table.designated < 0) {
      return refusal(query, "invalid designated timestamp column [name=" + s.designated.text + "]",
                     s.designated.position);
    }
    if (table.columns[static_cast<size_t>(table.designated)].definition.type !=
        ColumnType::Timestamp) {
      return refusal(query, "TIMESTAMP column expected", s.designated.position);
    }
  }
  if (s.partition_by != "NONE" && table.designated < 0) {
    return refusal(query, "partitioning is possible only on tables with designated timestamps",
                   s.partition_position);
  }
  if (s.wal && s.partition_by == "NONE") {
    return refusal(query, "WAL Write Mode can only be used on partitioned tables", s.wal_position);
  }
  if (s.dedup_position == 0) return std::nullopt;
  if (!table.wal) {
    return refusal(query, "deduplication is possible only on WAL tables", s.dedup_position);
  }
  bool has_designated = false;
  for (const NameAt& key : s.upsert_keys) {
    int column = find_column(table, key.text);
    if (column < 0) {
      return refusal(query, "deduplicate key column not found [column=" + key.text + "]",
                     key.position);
    }
    table.columns[static_cast<size_t>(column)].upsert_key = true;
    has_designated = has_designated || column == table.designated;
  }
  if (!has_designated) {
    return refusal(query, "deduplicate key list must include dedicated timestamp column",
                   s.dedup_position);
  }
  return std::nullopt;
}

ExecReply create_table(TableStore& store, std::string_view query, const Statement& s) {
  if (find_table(store, s.table.text) != nullptr) {
    if (s.if_exists) return {200, kDdlOk};
    return refusal(query, "table already exists", s.table.position);
  }
  if (!valid_table_name(s.table.text)) {
    return refusal(query, "invalid table name [table=" + s.table.text + "]", s.table.position);
  }
  if (auto refused = refuse_columns(query, s, nullptr)) return *refused;
  Table table;
  table.name = s.table.text;
  for (const ColumnAt& column : s.columns) add_column(table, column.definition);
  table.partition_by = s.partition_by;
  // Partitioned tables use the write-ahead log unless the statement says BYPASS WAL.
  table.wal = s.wal || (!s.bypass_wal && s.partition_by != "NONE");
  if (auto refused = refuse_table_clauses(query, s, table)) return *refused;
  add_table(store, std::move(table));
  return {200, kDdlOk};
}

ExecReply add_columns(std::string_view query, const Statement& s, Table& table) {
  if (auto refused = refuse_columns(query, s, &table)) return *refused;
  for (const ColumnAt& column : s.columns) add_column(table, column.definition);
  return {200, kDdlOk};
}

}  // namespace

ExecReply run_exec(TableStore& store, std::string_view query, ServerVersion version) {
  Statement statement;
  try {
    statement = parse_statement(query);
  } catch (const SqlError& error) {
    return refusal(query, error.what(), error.position);
  }
  if (statement.kind == StatementKind::CreateTable) return create_table(store, query, statement);
  if (statement.kind == StatementKind::WalTables) return wal_tables(query, store, version);
  if (statement.kind == StatementKind::Build) return build(query, version);
  Table* table = find_table(store, statement.table.text);
  if (table == nullptr) {
    if (statement.kind == StatementKind::Drop && statement.if_exists) return {200, kDdlOk};
    return missing_table(query, statement.table);
  }
  switch (statement.kind) {
    case StatementKind::ShowColumns:
      return show_columns(query, *table, version);
    case StatementKind::AddColumns:
      return add_columns(query, statement, *table);
    case StatementKind::Truncate:
      truncate_table(*table);
      return {200, kDdlOk};
    case StatementKind::Drop:
      drop_table(store, statement.table.text);
      return {200, kDdlOk};
    case StatementKind::SelectAll:
      return select_all(query, *table);
    case StatementKind::Count:
      return count_rows(query, *table);
    case StatementKind::Max:
      return max_reply(query, *table, statement.column.text, statement.column.position);
    case StatementKind::SuspendWal:
      return suspend_wal(query, *table, statement.table.position);
    case StatementKind::ResumeWal:
      return resume_wal(query, *table, statement.table.position);
    case StatementKind::CreateTable:
    case StatementKind::WalTables:
    case StatementKind::Build:
      break;
  }
  return refusal(query, "unsupported statement", 0);
}

}  // namespace ixc::standin
