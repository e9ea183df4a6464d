#pragma once
/// The two QuestDB tables of the system, the statements that create, extend, list and empty
/// them, and the schema check that each writer runs before its rows.
///
/// The check lists the table's columns and decides by their count alone: at least the
/// expected count is current (nothing printed); fewer is outdated (a yellow message, then the
/// ADD COLUMN statement of every column in table order, existing ones included); a listing
/// without a usable `dataset` - no reply, an error object, any failure on the way, a spent
/// run-time limit included - is a missing table (a yellow message, then CREATE TABLE). The
/// replies to those statements are printed for `ixcClientes` and dropped for `ixcClientesSoma`.
/// Nothing looks at their outcome; a failure while creating leaves the check.
#include <array>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ixc {

struct ColumnDefinition {
  std::string_view name;
  std::string_view definition;
};

struct TableSchema {
  std::string_view name;
  std::span<const ColumnDefinition> columns;  // in table order; their number is the expected count
  std::string_view designated;                // the designated timestamp column
  std::string_view dedup_keys;
  std::string_view not_found_message;
  bool prints_replies;  // the replies to ADD COLUMN and CREATE TABLE go on standard output
};

inline constexpr std::array<ColumnDefinition, 15> kClientesColumns{{
    {"idCliente", "INT"},
    {"idContrato", "INT"},
    {"razaoSocial", "SYMBOL capacity 1048576 CACHE index capacity 256"},
    {"cpfCnpj", "SYMBOL capacity 1048576 CACHE"},
    {"contatoCliente", "SYMBOL capacity 1048576 CACHE"},
    {"valorAtraso", "DOUBLE"},
    {"titulosAtraso", "INT"},
    {"statusCliente", "INT"},
    {"dataCadastro", "TIMESTAMP"},
    {"dataVencimento", "TIMESTAMP"},
    {"filial", "SYMBOL capacity 512 CACHE"},
    {"cidade", "SYMBOL capacity 512 CACHE"},
    {"bairro", "SYMBOL capacity 4096 CACHE"},
    {"ixcIdentification", "SYMBOL capacity 8 CACHE"},
    {"timestamp", "TIMESTAMP"},
}};

inline constexpr std::array<ColumnDefinition, 7> kClientesSomaColumns{{
    {"clientesAtrasoInativo", "INT"},
    {"clientesAtrasoAtivo", "INT"},
    {"titulosAtrasoInativo", "INT"},
    {"titulosAtrasoAtivo", "INT"},
    {"valorAtrasoInativo", "DOUBLE"},
    {"valorAtrasoAtivo", "DOUBLE"},
    {"timestamp", "TIMESTAMP"},
}};

inline constexpr TableSchema kClientesTable{
    "ixcClientes",
    kClientesColumns,
    "dataCadastro",
    "idCliente, dataCadastro",
    "Tabela ixcClientes não encontrada, criando tabela!",
    true,
};

inline constexpr TableSchema kClientesSomaTable{
    "ixcClientesSoma",
    kClientesSomaColumns,
    "timestamp",
    "timestamp",
    "Tabela ixcClientesSoma não encontrada, criando tabela!",
    false,
};

inline constexpr std::string_view kOutdatedMessage =
    "O QuestDB se encontra com a tabela desatualizada, atualizando tabela!";

std::string show_columns_statement(const TableSchema& table);
std::string create_table_statement(const TableSchema& table);
std::string add_column_statement(const TableSchema& table, const ColumnDefinition& column);

/// Column name to its ADD COLUMN statement, in table order.
std::vector<std::pair<std::string, std::string>> colunas_tabela(const TableSchema& table);

/// The schema check of `table`.
void check_schema(const TableSchema& table);

/// Sends "TRUNCATE TABLE ixcClientes;" and drops the reply, whatever it says.
void empty_client_table();

/// The `dataset` of a column listing of `table`, or QueryError saying why there is none (no
/// reply, or one without an array or object `dataset`), on one line.
const nlohmann::ordered_json& dataset_of(const std::optional<nlohmann::ordered_json>& reply,
                                         const TableSchema& table);

/// The writers' second listing, right before their rows: whether the table lists any column.
/// Raises QueryError when the listing gives no result or a reply without `dataset`.
bool table_lists_columns(const TableSchema& table);

}  // namespace ixc
