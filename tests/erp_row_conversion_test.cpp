// The conversion of the server's text values into ClientRow, without a server: the values are
// the texts the text protocol delivers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "erp/row_conversion.h"

namespace ixc {
namespace {

using ::testing::HasSubstr;

ErpRowValues good_values() {
  return {"1017",       "42",     "Razão", "123.456.789-09",      "",           "N",
          "2020-03-15", "189.90", "3",     "2024-01-02 03:04:05", std::nullopt, "Cidade",
          "Bairro"};
}

std::string conversion_error(const ErpRowValues& values, std::size_t row_number = 1) {
  try {
    client_row_from_values(values, row_number);
  } catch (const RowConversionError& error) {
    return error.what();
  }
  return "(no error)";
}

TEST(AmountText, ConvertsToTheNearestDouble) {
  EXPECT_EQ(parse_amount("189.90"), 189.9);
  EXPECT_EQ(parse_amount("0.30"), 0.3);
  EXPECT_EQ(parse_amount("0.30000000000000004"), 0.1 + 0.2);
  EXPECT_EQ(parse_amount("100000000.00"), 1e8);
  EXPECT_EQ(parse_amount("-12.5"), -12.5);
  EXPECT_EQ(parse_amount("1e3"), 1000.0);
  // Beyond 2^53 the halfway cases go to the even neighbour; a digit-by-digit sum does not.
  EXPECT_EQ(parse_amount("9007199254740993"), 9007199254740992.0);
  EXPECT_EQ(parse_amount("9007199254740995"), 9007199254740996.0);
  EXPECT_EQ(parse_amount("2.67499999999999982236431605997495353221893310546875"), 2.675);
}

TEST(AmountText, RefusesWhatIsNotAFiniteNumber) {
  for (const char* text :
       {"", "abc", " 1.5", "1.5 ", "1,50", "+1", "1.5x", "nan", "inf", "1e400"}) {
    EXPECT_EQ(parse_amount(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(IntegerText, IsReadStrictly) {
  EXPECT_EQ(parse_integer("1017"), 1017);
  EXPECT_EQ(parse_integer("-7"), -7);
  EXPECT_EQ(parse_integer("9223372036854775807"), INT64_MAX);
  for (const char* text : {"", "12.0", "12a", " 12", "+12", "9223372036854775808", "1e3"}) {
    EXPECT_EQ(parse_integer(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(DateText, ReadsDatesAndDateTimesDroppingFractions) {
  EXPECT_EQ(parse_date("2020-03-15"), (LocalDateTime{2020, 3, 15, 0, 0, 0}));
  EXPECT_EQ(parse_date("2024-01-02 03:04:05"), (LocalDateTime{2024, 1, 2, 3, 4, 5}));
  EXPECT_EQ(parse_date("2024-01-02 03:04:05.999999"), (LocalDateTime{2024, 1, 2, 3, 4, 5}));
  EXPECT_EQ(parse_date("2024-01-02 23:59:59.5"), (LocalDateTime{2024, 1, 2, 23, 59, 59}));
  EXPECT_EQ(parse_date("2024-02-29"), (LocalDateTime{2024, 2, 29, 0, 0, 0}));
  EXPECT_EQ(parse_date("2000-02-29"), (LocalDateTime{2000, 2, 29, 0, 0, 0}));
}

TEST(DateText, RefusesTextsThatNameNoRealDate) {
  for (const char* text : {"", "2023-02-29", "1900-02-29", "2024-04-31", "2024-13-01", "2024-00-10",
                           "2024-01-00", "2024-1-01", "2024-01-01T00:00:00", "2024-01-01 24:00:00",
                           "2024-01-01 10:60:00", "2024-01-01 10:00", "2024-01-01 10:00:00.",
                           "2024-01-01 10:00:00.1234567", "01/02/2024", "0000-00-00"}) {
    EXPECT_EQ(parse_date(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(DateText, TellsTextsOfTheServersDateShapeApart) {
  for (const char* text : {"0000-00-00", "0000-00-00 00:00:00.000000", "2019-05-00", "2019-00-10",
                           "2019-05-00 10:00:00", "2024-02-30", "2024-01-01 10:00:00.5"}) {
    EXPECT_TRUE(is_date_text(text)) << '"' << text << '"';
  }
  for (const char* text : {"", "0000-00-00x", "01/02/2024", "2024-1-01", "2024-01-01T00:00:00",
                           "2024-01-01 10:00", "2024-01-01 10:00:00.1234567"}) {
    EXPECT_FALSE(is_date_text(text)) << '"' << text << '"';
  }
}

TEST(ClientRowFromValues, FillsEveryFieldFromItsPosition) {
  ClientRow row = client_row_from_values(good_values(), 1);
  EXPECT_EQ(row.idCliente, 1017);
  EXPECT_EQ(row.idContrato, 42);
  EXPECT_EQ(row.razaoSocial, "Razão");
  EXPECT_EQ(row.cpfCnpj, "123.456.789-09");
  EXPECT_EQ(row.contatoCliente, "");  // empty is kept, not made absent
  EXPECT_EQ(row.statusCliente, "N");
  EXPECT_EQ(row.data_cadastro, (LocalDateTime{2020, 3, 15, 0, 0, 0}));
  EXPECT_EQ(row.valorAtraso, 189.9);
  EXPECT_EQ(row.titulosAtraso, 3);
  EXPECT_EQ(row.dataVencimento, (LocalDateTime{2024, 1, 2, 3, 4, 5}));
  EXPECT_EQ(row.filial, std::nullopt);
  EXPECT_EQ(row.cidade, "Cidade");
  EXPECT_EQ(row.bairro, "Bairro");
}

TEST(ClientRowFromValues, KeepsNullTextsAndDatesAbsent) {
  ErpRowValues values = good_values();
  for (std::size_t column : {2, 3, 4, 5, 6, 9, 10, 11, 12}) values[column] = std::nullopt;
  values[6] = "0000-00-00";
  ClientRow row = client_row_from_values(values, 1);
  EXPECT_EQ(row.data_cadastro, std::nullopt);

  // Dates the server keeps with a zero month or day read as null too, in both columns.
  values[6] = "2019-05-00 10:00:00";
  values[9] = "2019-00-10";
  row = client_row_from_values(values, 1);
  EXPECT_EQ(row.razaoSocial, std::nullopt);
  EXPECT_EQ(row.cpfCnpj, std::nullopt);
  EXPECT_EQ(row.contatoCliente, std::nullopt);
  EXPECT_EQ(row.statusCliente, std::nullopt);
  EXPECT_EQ(row.data_cadastro, std::nullopt);
  EXPECT_EQ(row.dataVencimento, std::nullopt);
  EXPECT_EQ(row.bairro, std::nullopt);
}

TEST(ClientRowFromValues, KeepsTextBytesThatAreNotPlainLetters) {
  ErpRowValues values = good_values();
  std::string with_nul("a\0b", 3);
  values[12] = with_nul;
  values[2] = "Ana 😀";
  ClientRow row = client_row_from_values(values, 1);
  EXPECT_EQ(row.bairro, with_nul);
  EXPECT_EQ(row.razaoSocial, "Ana 😀");
}

TEST(ClientRowFromValues, NamesCustomerColumnAndValueOfABadValue) {
  ErpRowValues values = good_values();
  values[7] = "abc";
  EXPECT_EQ(conversion_error(values), "cliente 1017: valorAtraso \"abc\" não é um número");

  values = good_values();
  values[8] = "2.5";
  EXPECT_EQ(conversion_error(values),
            "cliente 1017: titulosAtraso \"2.5\" não é um número inteiro");

  values = good_values();
  values[9] = "30/02/2024";
  EXPECT_EQ(conversion_error(values), "cliente 1017: dataVencimento \"30/02/2024\" não é uma data");

  values = good_values();
  values[6] = "ontem";
  EXPECT_EQ(conversion_error(values), "cliente 1017: data_cadastro \"ontem\" não é uma data");
}

TEST(ClientRowFromValues, RefusesNullWhereTheRowMustHaveAValue) {
  for (std::size_t column : {1, 7, 8}) {
    ErpRowValues values = good_values();
    values[column] = std::nullopt;
    EXPECT_THAT(
        conversion_error(values),
        HasSubstr("cliente 1017: " + std::string(CLIENT_ROW_LABELS[column]) + " veio NULL"));
  }
}

TEST(ClientRowFromValues, NamesTheRowWhenTheCustomerIdItselfIsBad) {
  ErpRowValues values = good_values();
  values[0] = std::nullopt;
  EXPECT_THAT(conversion_error(values, 3), HasSubstr("linha 3: idCliente veio NULL"));
  values[0] = "x1";
  EXPECT_EQ(conversion_error(values, 4), "linha 4: idCliente \"x1\" não é um número inteiro");
}

TEST(ClientRowFromValues, RefusesARowOfTheWrongWidth) {
  ErpRowValues values = good_values();
  values.pop_back();
  EXPECT_THAT(conversion_error(values, 2), HasSubstr("12 colunas, esperadas 13"));
}

}  // namespace
}  // namespace ixc
