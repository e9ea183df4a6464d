#pragma once
/// Turns the text-protocol values of one row of the overdue statement into a ClientRow, by
/// position. Integers are read strictly, texts kept as they came (NULL absent, empty kept), the
/// amount becomes the nearest double of its decimal text and the dates become local date-times
/// with any fraction of a second dropped. A date of the server's shape that names no calendar
/// day or time (the zero date, `2019-05-00`, `2019-00-10`) is absent, as a NULL is. A value that
/// does not convert raises RowConversionError naming the customer, the column and the value.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "erp/client_row.h"
#include "erp/erp_connection.h"

namespace ixc {

struct RowConversionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// The server's column labels, by position.
inline constexpr std::string_view CLIENT_ROW_LABELS[] = {
    "idCliente",     "idContrato",    "razaoSocial", "cpfCnpj",       "contatoCliente",
    "statusCliente", "data_cadastro", "valorAtraso", "titulosAtraso", "dataVencimento",
    "filial",        "cidade",        "bairro"};
inline constexpr std::size_t CLIENT_ROW_COLUMNS = std::size(CLIENT_ROW_LABELS);

/// The row `values` (exactly CLIENT_ROW_COLUMNS of them). `row_number` (from 1) names the row
/// in an error when its customer id itself cannot be read.
ClientRow client_row_from_values(const ErpRowValues& values, std::size_t row_number);

/// The single conversions, for the texts the server sends. Each returns no value when the text
/// is not of its kind, and leaves naming the culprit to the caller.
std::optional<std::int64_t> parse_integer(std::string_view text);
std::optional<double> parse_amount(std::string_view text);

/// The date-time of a "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS[.ffffff]" text naming a real date
/// and time of day; no value otherwise, the zero date included.
std::optional<LocalDateTime> parse_date(std::string_view text);

/// Whether `text` has the shape of a date or date-time the server sends ("YYYY-MM-DD" or
/// "YYYY-MM-DD HH:MM:SS[.ffffff]"), whatever its fields hold: the server keeps dates with a zero
/// month or day for ones the ERP does not know.
bool is_date_text(std::string_view text);

}  // namespace ixc
