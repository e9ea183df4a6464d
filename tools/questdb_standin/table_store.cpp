#include "questdb_standin/table_store.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <numeric>

#include "questdb_standin/names.h"

namespace ixc::standin {

namespace {

constexpr std::array<std::pair<ColumnType, std::string_view>, 7> kTypeNames = {{
    {ColumnType::Boolean, "BOOLEAN"},
    {ColumnType::Int, "INT"},
    {ColumnType::Long, "LONG"},
    {ColumnType::Double, "DOUBLE"},
    {ColumnType::Symbol, "SYMBOL"},
    {ColumnType::String, "STRING"},
    {ColumnType::Timestamp, "TIMESTAMP"},
}};

std::int64_t null_cell(ColumnType type) {
  if (type == ColumnType::Boolean) return 0;
  if (type == ColumnType::Double) return double_cell(std::nan(""));
  return kNullCell;
}

std::string_view copy_into(Arena& arena, std::string_view text) {
  if (text.empty()) return {};
  auto* bytes = static_cast<char*>(arena.allocate(text.size(), 1));
  std::memcpy(bytes, text.data(), text.size());
  return {bytes, text.size()};
}

bool has_upsert_keys(const Table& table) {
  return std::any_of(table.columns.begin(), table.columns.end(),
                     [](const Column& c) { return c.upsert_key; });
}

// STRING cells are indexes of their own copy, so equal texts need their bytes in the key.
std::string upsert_key(const Table& table, std::span<const std::int64_t> row) {
  std::string key;
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const Column& column = table.columns[i];
    if (!column.upsert_key) continue;
    if (column.definition.type == ColumnType::String && row[i] != kNullCell) {
      std::string_view text = column.texts[static_cast<size_t>(row[i])];
      key += std::to_string(text.size());
      key += ':';
      key += text;
    } else {
      key.append(reinterpret_cast<const char*>(&row[i]), sizeof row[i]);
    }
  }
  return key;
}

}  // namespace

std::string_view type_name(ColumnType type) {
  for (const auto& [t, name] : kTypeNames) {
    if (t == type) return name;
  }
  return "UNKNOWN";
}

std::optional<ColumnType> type_from_name(std::string_view name) {
  for (const auto& [type, text] : kTypeNames) {
    if (same_name(text, name)) return type;
  }
  return std::nullopt;
}

Table* find_table(TableStore& store, std::string_view name) {
  auto found = store.tables.find(folded_name(name));
  return found == store.tables.end() ? nullptr : &found->second;
}

Table& add_table(TableStore& store, Table table) {
  std::string key = folded_name(table.name);
  return store.tables.insert_or_assign(std::move(key), std::move(table)).first->second;
}

void drop_table(TableStore& store, std::string_view name) { store.tables.erase(folded_name(name)); }

int find_column(const Table& table, std::string_view name) {
  for (size_t i = 0; i < table.columns.size(); ++i) {
    if (same_name(table.columns[i].definition.name, name)) return static_cast<int>(i);
  }
  return -1;
}

void add_column(Table& table, const ColumnDefinition& definition) {
  Column& column = table.columns.emplace_back();
  column.definition = definition;
  column.cells.assign(table.row_count, null_cell(definition.type));
}

void truncate_table(Table& table) {
  for (Column& column : table.columns) {
    column.cells = {};
    column.texts = {};
    column.symbol_keys = {};
  }
  table.rows_by_key = {};
  table.row_count = 0;
  table.arena->release();
  ++table.wal_txn;
}

void blank_row(const Table& table, std::vector<std::int64_t>& row) {
  row.clear();
  for (const Column& column : table.columns) row.push_back(null_cell(column.definition.type));
}

std::int64_t double_cell(double value) { return std::bit_cast<std::int64_t>(value); }

double cell_double(std::int64_t cell) { return std::bit_cast<double>(cell); }

std::int64_t text_cell(Table& table, Column& column, std::string_view text) {
  bool symbol = column.definition.type == ColumnType::Symbol;
  if (symbol) {
    if (auto found = find_text(column.symbol_keys, text)) return *found;
  }
  std::string_view kept = copy_into(*table.arena, text);
  auto index = static_cast<std::int64_t>(column.texts.size());
  column.texts.push_back(kept);
  if (symbol) add_text(column.symbol_keys, kept, index);
  return index;
}

void store_row(Table& table, std::span<const std::int64_t> row) {
  if (has_upsert_keys(table)) {
    std::string key = upsert_key(table, row);
    if (auto found = find_text(table.rows_by_key, key)) {
      for (size_t i = 0; i < table.columns.size(); ++i) {
        table.columns[i].cells[static_cast<size_t>(*found)] = row[i];
      }
      return;
    }
    add_text(table.rows_by_key, copy_into(*table.arena, key),
             static_cast<std::int64_t>(table.row_count));
  }
  for (size_t i = 0; i < table.columns.size(); ++i) table.columns[i].cells.push_back(row[i]);
  ++table.row_count;
}

std::vector<std::size_t> rows_in_time_order(const Table& table) {
  std::vector<std::size_t> order(table.row_count);
  std::iota(order.begin(), order.end(), 0);
  if (table.designated >= 0) {
    const auto& times = table.columns[static_cast<size_t>(table.designated)].cells;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return times[a] < times[b]; });
  }
  return order;
}

}  // namespace ixc::standin
