#pragma once
/// One row of the ERP's overdue statement, read by position from the server's column values:
/// integers, optional texts (NULL is absent, not empty), the overdue amount as the nearest
/// double of the server's decimal, and optional local date-times (the zero date is absent).
#include <cstdint>
#include <optional>
#include <string>

namespace ixc {

/// A civil date and time of day without a time zone, to the second.
struct LocalDateTime {
  int year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

struct ClientRow {
  std::int64_t idCliente = 0;                       // 0
  std::int64_t idContrato = 0;                      // 1
  std::optional<std::string> razaoSocial;           // 2
  std::optional<std::string> cpfCnpj;               // 3
  std::optional<std::string> contatoCliente;        // 4
  std::optional<std::string> statusCliente;         // 5, the ERP's flag: "N" is inactive
  std::optional<LocalDateTime> data_cadastro;       // 6
  double valorAtraso = 0;                           // 7
  std::int64_t titulosAtraso = 0;                   // 8
  std::optional<LocalDateTime> dataVencimento;      // 9
  std::optional<std::string> filial;                // 10
  std::optional<std::string> cidade;                // 11
  std::optional<std::string> bairro;                // 12
};

}  // namespace ixc
