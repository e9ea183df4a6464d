#include "questdb_standin/line_ingest.h"

#include <string>
#include <vector>

#include "questdb_standin/names.h"

namespace ixc::standin {

namespace {

// What one table will look like once the request is stored. The request is read twice: the
// first pass checks every line against these drafts and grows them, the second stores rows into
// tables that by then have the drafted columns, so a bad line anywhere stores nothing.
struct Draft {
  std::string name;
  Table* table = nullptr;  // null until the request creates it
  std::vector<ColumnDefinition> columns;
  size_t stored_columns = 0;  // columns the table has in the store
  int designated = -1;
  bool created_here = false;
  int first_line = 0;
  std::vector<int> column_of_field;  // column of the n-th field of the last line seen
  std::vector<int> set_on_line;      // last line that gave each column a value
};

struct Plan {
  std::vector<Draft> drafts;
  size_t last = 0;
};

Draft& draft_for(Plan& plan, TableStore& store, const Line& line) {
  if (plan.last < plan.drafts.size() && same_name(plan.drafts[plan.last].name, line.table)) {
    return plan.drafts[plan.last];
  }
  for (size_t i = 0; i < plan.drafts.size(); ++i) {
    if (same_name(plan.drafts[i].name, line.table)) {
      plan.last = i;
      return plan.drafts[i];
    }
  }
  if (!valid_table_name(line.table)) {
    throw LineProtocolError(line.number,
                            "invalid table name [table=" + std::string(line.table) + "]");
  }
  Draft& draft = plan.drafts.emplace_back();
  plan.last = plan.drafts.size() - 1;
  draft.name = std::string(line.table);
  draft.first_line = line.number;
  draft.table = find_table(store, line.table);
  if (draft.table != nullptr) {
    for (const Column& column : draft.table->columns) draft.columns.push_back(column.definition);
    draft.stored_columns = draft.columns.size();
    draft.designated = draft.table->designated;
  } else {
    draft.created_here = true;
  }
  draft.set_on_line.assign(draft.columns.size(), 0);
  return draft;
}

int column_for(Draft& draft, size_t field_index, std::string_view name) {
  if (field_index < draft.column_of_field.size()) {
    int hint = draft.column_of_field[field_index];
    if (hint >= 0 && draft.columns[static_cast<size_t>(hint)].name == name) return hint;
  } else {
    draft.column_of_field.resize(field_index + 1, -1);
  }
  for (size_t i = 0; i < draft.columns.size(); ++i) {
    if (same_name(draft.columns[i].name, name)) {
      draft.column_of_field[field_index] = static_cast<int>(i);
      return static_cast<int>(i);
    }
  }
  return -1;
}

ColumnType new_column_type(FieldKind kind) {
  switch (kind) {
    case FieldKind::Tag:
      return ColumnType::Symbol;
    case FieldKind::Integer:
      return ColumnType::Long;
    case FieldKind::Float:
      return ColumnType::Double;
    case FieldKind::String:
      return ColumnType::String;
    case FieldKind::Boolean:
      return ColumnType::Boolean;
    case FieldKind::Timestamp:
      return ColumnType::Timestamp;
  }
  return ColumnType::String;
}

int add_draft_column(Draft& draft, std::string_view name, ColumnType type) {
  ColumnDefinition definition;
  definition.name = std::string(name);
  definition.type = type;
  draft.columns.push_back(definition);
  draft.set_on_line.push_back(0);
  return static_cast<int>(draft.columns.size() - 1);
}

bool fits(FieldKind kind, ColumnType type) {
  switch (kind) {
    case FieldKind::Tag:
    case FieldKind::String:
      return type == ColumnType::Symbol || type == ColumnType::String;
    case FieldKind::Integer:
      return type == ColumnType::Int || type == ColumnType::Long || type == ColumnType::Double ||
             type == ColumnType::Timestamp;
    case FieldKind::Float:
      return type == ColumnType::Double;
    case FieldKind::Boolean:
      return type == ColumnType::Boolean;
    case FieldKind::Timestamp:
      return type == ColumnType::Timestamp;
  }
  return false;
}

void check_field(const Draft& draft, const Line& line, const Field& field, int column) {
  const ColumnDefinition& definition = draft.columns[static_cast<size_t>(column)];
  std::string where =
      "table: " + std::string(line.table) + ", column: " + std::string(field.name) + "; ";
  if (!fits(field.kind, definition.type)) {
    throw LineProtocolError(
        line.number,
        where + "cast error from protocol type: " + std::string(protocol_type_name(field.kind)) +
            " to column type: " + std::string(type_name(definition.type)));
  }
  if (field.kind == FieldKind::Integer && definition.type == ColumnType::Int &&
      (field.integer > INT32_MAX || field.integer <= INT32_MIN)) {
    throw LineProtocolError(line.number,
                            where + "line protocol value: " + std::to_string(field.integer) +
                                " is out bounds of column type: INT");
  }
}

RowWriteError before_epoch(const Line& line, const Draft& draft, ServerVersion version) {
  return RowWriteError(
      line.number, draft.name,
      version == ServerVersion::V8
          ? "errno: -1, error: timestamp before 1970-01-01 is not allowed"
          : "errno: -1, error: designated timestamp before 1970-01-01 is not allowed");
}

// Microseconds of the line timestamp in the request's precision; the request time without one.
std::int64_t line_micros(const Line& line, std::int64_t nanos_per_unit, std::int64_t now_micros) {
  if (!line.timestamp) return now_micros;
  std::int64_t nanos;
  if (__builtin_mul_overflow(*line.timestamp, nanos_per_unit, &nanos)) {
    throw LineProtocolError(line.number,
                            "Could not parse timestamp: " + std::to_string(*line.timestamp));
  }
  return nanos / 1000;
}

void check_line(Plan& plan, TableStore& store, const Line& line, std::int64_t nanos_per_unit,
                ServerVersion version) {
  Draft& draft = draft_for(plan, store, line);
  bool designated_given = false;
  for (size_t i = 0; i < line.fields.size(); ++i) {
    const Field& field = line.fields[i];
    int column = column_for(draft, i, field.name);
    if (column < 0) {
      if (!valid_column_name(field.name)) {
        throw LineProtocolError(line.number, "invalid column name [table=" + draft.name +
                                                 ", columnName=" + std::string(field.name) + "]");
      }
      // A table made by this request gets its designated `timestamp` where the line names it.
      bool designated =
          draft.created_here && draft.designated < 0 && same_name(field.name, "timestamp");
      column = add_draft_column(draft, field.name,
                                designated ? ColumnType::Timestamp : new_column_type(field.kind));
      if (designated) draft.designated = column;
    }
    if (draft.set_on_line[static_cast<size_t>(column)] == line.number) continue;
    draft.set_on_line[static_cast<size_t>(column)] = line.number;
    check_field(draft, line, field, column);
    if (column == draft.designated) {
      designated_given = true;
      if (version == ServerVersion::V9 && field.kind == FieldKind::Integer) {
        throw RowWriteError(line.number, draft.name,
                            "error: java.lang.UnsupportedOperationException");
      }
      if (field.integer < 0) throw before_epoch(line, draft, version);
    }
  }
  if (draft.created_here && draft.designated < 0 && draft.first_line == line.number) {
    draft.designated = add_draft_column(draft, "timestamp", ColumnType::Timestamp);
  }
  std::int64_t at = line_micros(line, nanos_per_unit, 0);
  if (!designated_given && at < 0) throw before_epoch(line, draft, version);
}

void create_drafted(TableStore& store, Plan& plan) {
  for (Draft& draft : plan.drafts) {
    if (draft.table == nullptr) {
      Table table;
      table.name = draft.name;
      table.designated = draft.designated;
      table.partition_by = "DAY";
      table.wal = true;
      draft.table = &add_table(store, std::move(table));
    }
    for (size_t i = draft.stored_columns; i < draft.columns.size(); ++i) {
      add_column(*draft.table, draft.columns[i]);
    }
    ++draft.table->wal_txn;
    draft.set_on_line.assign(draft.columns.size(), 0);
  }
}

std::int64_t field_cell(Table& table, Column& column, const Field& field, bool designated) {
  switch (field.kind) {
    case FieldKind::Tag:
    case FieldKind::String:
      return text_cell(table, column, field.text);
    case FieldKind::Float:
      return double_cell(field.real);
    case FieldKind::Boolean:
    case FieldKind::Timestamp:
      return field.integer;
    case FieldKind::Integer:
      if (column.definition.type == ColumnType::Double) {
        return double_cell(static_cast<double>(field.integer));
      }
      if (designated) return field.integer / 1000;
      return field.integer;
  }
  return kNullCell;
}

void store_line(Plan& plan, TableStore& store, const Line& line, std::int64_t nanos_per_unit,
                std::int64_t now_micros, std::vector<std::int64_t>& row) {
  Draft& draft = draft_for(plan, store, line);
  Table& table = *draft.table;
  blank_row(table, row);
  bool designated_set = false;
  for (size_t i = 0; i < line.fields.size(); ++i) {
    const Field& field = line.fields[i];
    auto column = static_cast<size_t>(column_for(draft, i, field.name));
    if (draft.set_on_line[column] == line.number) continue;
    draft.set_on_line[column] = line.number;
    bool designated = static_cast<int>(column) == table.designated;
    row[column] = field_cell(table, table.columns[column], field, designated);
    designated_set = designated_set || designated;
  }
  if (table.designated >= 0 && !designated_set) {
    row[static_cast<size_t>(table.designated)] = line_micros(line, nanos_per_unit, now_micros);
  }
  store_row(table, row);
}

}  // namespace

void ingest_lines(TableStore& store, std::string_view body, std::int64_t nanos_per_unit,
                  std::int64_t now_micros, ServerVersion version) {
  Plan plan;
  parse_lines(body,
              [&](const Line& line) { check_line(plan, store, line, nanos_per_unit, version); });
  create_drafted(store, plan);
  std::vector<std::int64_t> row;
  parse_lines(body, [&](const Line& line) {
    store_line(plan, store, line, nanos_per_unit, now_micros, row);
  });
}

}  // namespace ixc::standin
