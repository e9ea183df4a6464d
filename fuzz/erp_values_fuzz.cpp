// The conversions of the ERP's text values never crash on what a server or a damaged ERP holds:
// an amount is a finite double or none, a date names a real calendar day and time of day or
// none, and a whole row either converts or raises RowConversionError on one line. The input is
// cut into the thirteen values of a row at NUL bytes; a value of a single 0x01 byte is NULL.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "erp/row_conversion.h"
#include "fuzz_check.h"

namespace {

bool real_date(const ixc::LocalDateTime& d) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.year < 0 || d.year > 9999 || d.month < 1 || d.month > 12) return false;
  bool leap = d.year % 4 == 0 && (d.year % 100 != 0 || d.year % 400 == 0);
  int days = kDays[d.month - 1] + (d.month == 2 && leap ? 1 : 0);
  return d.day >= 1 && d.day <= days && d.hour >= 0 && d.hour <= 23 && d.minute >= 0 &&
         d.minute <= 59 && d.second >= 0 && d.second <= 59;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  if (auto amount = ixc::parse_amount(input)) FUZZ_REQUIRE(std::isfinite(*amount), input);
  if (auto date = ixc::parse_date(input)) {
    FUZZ_REQUIRE(real_date(*date), input);
    FUZZ_REQUIRE(ixc::is_date_text(input), input);
  }
  if (auto integer = ixc::parse_integer(input)) {
    FUZZ_REQUIRE(!input.empty() && input.find_first_of("0123456789") != std::string::npos, input);
  }

  ixc::ErpRowValues values;
  std::string_view rest(input);
  while (values.size() < ixc::CLIENT_ROW_COLUMNS) {
    std::size_t end = rest.find('\0');
    std::string_view value = rest.substr(0, end);
    values.push_back(value == "\x01" ? std::nullopt : std::optional<std::string_view>(value));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  try {
    ixc::ClientRow row = ixc::client_row_from_values(values, 1);
    FUZZ_REQUIRE(std::isfinite(row.valorAtraso), input);
    if (row.data_cadastro) FUZZ_REQUIRE(real_date(*row.data_cadastro), input);
    if (row.dataVencimento) FUZZ_REQUIRE(real_date(*row.dataVencimento), input);
  } catch (const ixc::RowConversionError& error) {
    std::string_view text = error.what();
    FUZZ_REQUIRE(!text.empty(), input);
  }
  return 0;
}
