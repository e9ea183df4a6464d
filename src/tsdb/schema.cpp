#include "tsdb/schema.h"

#include <nlohmann/json.hpp>
#include <optional>

#include "app/console.h"
#include "text/excerpt.h"
#include "text/python_repr.h"
#include "tsdb/query_client.h"

namespace ixc {
namespace {

using Reply = std::optional<nlohmann::ordered_json>;

void print_yellow(std::string_view message) {
  std::string line;
  line.append(YELLOW).append(message).append(RESET);
  print_line(line);
}

}  // namespace

std::string show_columns_statement(const TableSchema& table) {
  return "SHOW COLUMNS FROM " + std::string(table.name);
}

std::string create_table_statement(const TableSchema& table) {
  std::string statement = "CREATE TABLE '" + std::string(table.name) + "' (";
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    if (i > 0) statement += ", ";
    statement.append(table.columns[i].name).append(" ").append(table.columns[i].definition);
  }
  statement.append(") timestamp (").append(table.designated).append(") PARTITION BY WEEK WAL");
  statement.append(" DEDUP UPSERT KEYS(").append(table.dedup_keys).append(");");
  return statement;
}

std::string add_column_statement(const TableSchema& table, const ColumnDefinition& column) {
  std::string statement = "ALTER TABLE ";
  statement.append(table.name).append(" ADD COLUMN ").append(column.name);
  statement.append(" ").append(column.definition);
  return statement;
}

std::vector<std::pair<std::string, std::string>> colunas_tabela(const TableSchema& table) {
  std::vector<std::pair<std::string, std::string>> statements;
  for (const ColumnDefinition& column : table.columns) {
    statements.emplace_back(std::string(column.name), add_column_statement(table, column));
  }
  return statements;
}

void check_schema(const TableSchema& table) {
  Reply lista_colunas = run_query(show_columns_statement(table));
  try {
    std::size_t count = dataset_of(lista_colunas, table).size();
    if (count >= table.columns.size()) return;
    // Only the count decides: every column is added again, and the refusals for those that
    // exist are treated like the acknowledgement for the one that was missing.
    print_yellow(kOutdatedMessage);
    for (const ColumnDefinition& column : table.columns) {
      Reply resultado = run_query(add_column_statement(table, column));
      if (table.prints_replies) print_reply(resultado);
    }
    return;
  } catch (...) {
    // Whatever went wrong, a spent run-time limit included, the table counts as missing. A
    // spent limit is not renewed by this: the creation's request below raises it again.
  }
  print_yellow(table.not_found_message);
  Reply criacaoTabela = run_query(create_table_statement(table));
  if (table.prints_replies) print_reply(criacaoTabela);
}

void empty_client_table() { (void)run_query("TRUNCATE TABLE ixcClientes;"); }

const nlohmann::ordered_json& dataset_of(const Reply& reply, const TableSchema& table) {
  std::string listing = "a listagem de colunas de " + std::string(table.name);
  if (!reply) throw QueryError(listing + " não trouxe resposta do QuestDB");
  if (reply->is_object()) {
    auto dataset = reply->find("dataset");
    if (dataset != reply->end() && (dataset->is_array() || dataset->is_object())) return *dataset;
  }
  throw QueryError(listing + " veio sem dataset: " + one_line_excerpt(python_repr(*reply), 300));
}

bool table_lists_columns(const TableSchema& table) {
  Reply lista_colunas = run_query(show_columns_statement(table));
  return !dataset_of(lista_colunas, table).empty();
}

}  // namespace ixc
