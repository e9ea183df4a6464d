#include "questdb_standin/server_functions.h"

#include "questdb_standin/json_text.h"

namespace ixc::standin {

namespace {

const char kDdlOk[] = "{\"ddl\":\"OK\"}";

std::string result_head(std::string_view query, const std::string& columns) {
  std::string out = "{\"query\":";
  append_questdb_json_string(out, query);
  out += ",\"columns\":";
  out += columns;
  out += ",\"timestamp\":-1,\"dataset\":[";
  return out;
}

ExecReply not_wal(std::string_view query, const Table& table, int position) {
  return {400, exec_error_object(query, table.name + " is not a WAL table", position)};
}

}  // namespace

ExecReply max_reply(std::string_view query, const Table& table, const std::string& column_name,
                    int position) {
  int index = find_column(table, column_name);
  if (index < 0) {
    return {400, exec_error_object(query, "Invalid column: " + column_name, position)};
  }
  const Column& column = table.columns[static_cast<size_t>(index)];
  ColumnType type = column.definition.type;
  if (type != ColumnType::Timestamp && type != ColumnType::Int && type != ColumnType::Long) {
    return {400, exec_error_object(query, "unsupported argument type", position)};
  }
  std::int64_t largest = kNullCell;
  for (std::int64_t cell : column.cells) {
    if (cell != kNullCell && (largest == kNullCell || cell > largest)) largest = cell;
  }
  std::string out =
      result_head(query, "[{\"name\":\"max\",\"type\":\"" + std::string(type_name(type)) + "\"}]");
  out += '[';
  if (largest == kNullCell) {
    out += "null";
  } else if (type == ColumnType::Timestamp) {
    out += '"';
    append_iso_timestamp(out, largest);
    out += '"';
  } else {
    out += std::to_string(largest);
  }
  out += "]],\"count\":1}";
  return {200, out};
}

ExecReply suspend_wal(std::string_view query, Table& table, int position) {
  if (!table.wal) return not_wal(query, table, position);
  table.wal_suspended = true;
  return {200, kDdlOk};
}

ExecReply resume_wal(std::string_view query, Table& table, int position) {
  if (!table.wal) return not_wal(query, table, position);
  table.wal_suspended = false;
  for (const auto& row : table.held_rows) store_row(table, row);
  table.held_rows.clear();
  table.held_txn = 0;
  return {200, kDdlOk};
}

}  // namespace ixc::standin
