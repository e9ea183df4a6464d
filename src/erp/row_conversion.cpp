#include "erp/row_conversion.h"

#include <charconv>
#include <cmath>
#include <string>

#include "erp/local_time.h"

namespace ixc {
namespace {

// Reads exactly `count` digits at `at`, advancing it.
std::optional<int> digits(std::string_view text, std::size_t& at, std::size_t count) {
  if (at + count > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    char c = text[at + i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  at += count;
  return value;
}

bool literal(std::string_view text, std::size_t& at, char expected) {
  if (at >= text.size() || text[at] != expected) return false;
  ++at;
  return true;
}

// The fields of a date or date-time text, before any check of their ranges. The fraction of a
// second (DATETIME(n) sends n digits) is read past and dropped.
std::optional<LocalDateTime> date_fields(std::string_view text) {
  LocalDateTime fields;
  std::size_t at = 0;
  auto year = digits(text, at, 4);
  if (!year || !literal(text, at, '-')) return std::nullopt;
  auto month = digits(text, at, 2);
  if (!month || !literal(text, at, '-')) return std::nullopt;
  auto day = digits(text, at, 2);
  if (!day) return std::nullopt;
  fields.year = *year;
  fields.month = *month;
  fields.day = *day;
  fields.hour = fields.minute = fields.second = 0;
  if (at == text.size()) return fields;

  if (!literal(text, at, ' ')) return std::nullopt;
  auto hour = digits(text, at, 2);
  if (!hour || !literal(text, at, ':')) return std::nullopt;
  auto minute = digits(text, at, 2);
  if (!minute || !literal(text, at, ':')) return std::nullopt;
  auto second = digits(text, at, 2);
  if (!second) return std::nullopt;
  fields.hour = *hour;
  fields.minute = *minute;
  fields.second = *second;
  if (at == text.size()) return fields;

  if (!literal(text, at, '.')) return std::nullopt;
  std::size_t fraction = text.size() - at;
  if (fraction < 1 || fraction > 6 || !digits(text, at, fraction)) return std::nullopt;
  return fields;
}

// Names the row in an error: its customer once the id is known, else its place in the result.
struct RowName {
  std::string text;
};

[[noreturn]] void fail(const RowName& row, std::size_t column, std::string_view problem) {
  throw RowConversionError(row.text + ": " + std::string(CLIENT_ROW_LABELS[column]) + " " +
                           std::string(problem));
}

[[noreturn]] void fail_value(const RowName& row, std::size_t column, std::string_view value,
                             std::string_view problem) {
  fail(row, column, "\"" + std::string(value) + "\" " + std::string(problem));
}

std::string_view required(const ErpRowValues& values, const RowName& row, std::size_t column) {
  if (!values[column]) fail(row, column, "veio NULL, mas não pode faltar");
  return *values[column];
}

std::int64_t integer_at(const ErpRowValues& values, const RowName& row, std::size_t column) {
  std::string_view text = required(values, row, column);
  auto value = parse_integer(text);
  if (!value) fail_value(row, column, text, "não é um número inteiro");
  return *value;
}

std::optional<std::string> text_at(const ErpRowValues& values, std::size_t column) {
  if (!values[column]) return std::nullopt;
  return std::string(*values[column]);
}

// A date the server keeps with a zero month or day (the zero date among them) stands for one
// the ERP does not know, as a NULL does; only a text that is no date at all is an error.
std::optional<LocalDateTime> date_at(const ErpRowValues& values, const RowName& row,
                                     std::size_t column) {
  if (!values[column]) return std::nullopt;
  auto value = parse_date(*values[column]);
  if (!value && !is_date_text(*values[column])) {
    fail_value(row, column, *values[column], "não é uma data");
  }
  return value;
}

}  // namespace

std::optional<std::int64_t> parse_integer(std::string_view text) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::optional<double> parse_amount(std::string_view text) {
  // from_chars rounds correctly to the nearest double; the decimal text itself is exact.
  double value = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<LocalDateTime> parse_date(std::string_view text) {
  auto fields = date_fields(text);
  if (!fields || !is_calendar_date_time(*fields)) return std::nullopt;
  return fields;
}

bool is_date_text(std::string_view text) { return date_fields(text).has_value(); }

ClientRow client_row_from_values(const ErpRowValues& values, std::size_t row_number) {
  RowName row{"linha " + std::to_string(row_number)};
  if (values.size() != CLIENT_ROW_COLUMNS) {
    throw RowConversionError(row.text + ": a consulta devolveu " + std::to_string(values.size()) +
                             " colunas, esperadas " + std::to_string(CLIENT_ROW_COLUMNS));
  }

  ClientRow client;
  client.idCliente = integer_at(values, row, 0);
  row.text = "cliente " + std::to_string(client.idCliente);
  client.idContrato = integer_at(values, row, 1);
  client.razaoSocial = text_at(values, 2);
  client.cpfCnpj = text_at(values, 3);
  client.contatoCliente = text_at(values, 4);
  client.statusCliente = text_at(values, 5);
  client.data_cadastro = date_at(values, row, 6);

  std::string_view amount = required(values, row, 7);
  auto valorAtraso = parse_amount(amount);
  if (!valorAtraso) fail_value(row, 7, amount, "não é um número");
  client.valorAtraso = *valorAtraso;

  client.titulosAtraso = integer_at(values, row, 8);
  client.dataVencimento = date_at(values, row, 9);
  client.filial = text_at(values, 10);
  client.cidade = text_at(values, 11);
  client.bairro = text_at(values, 12);
  return client;
}

}  // namespace ixc
