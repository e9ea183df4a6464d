#pragma once
/// The rows that the generator writes into the ERP's four tables (tools/ixc_erp/ixc_schema.sql),
/// with the columns the collector reads and a few neighbouring ones. Money is in cents, so that
/// every amount is written exactly; dates of receivables are counted in days from the day the
/// data is loaded, so that "overdue" means the same whenever it is loaded.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace demo {

using Cents = std::int64_t;

/// A calendar date; year 0 (with month and day 0) is the ERP's zero date '0000-00-00'.
struct CivilDate {
  int year = 0;
  int month = 0;
  int day = 0;
};

struct City {
  int id;
  std::string_view nome;
  std::string_view cod_ibge;
  int branch;  // the branch that bills its customers
  std::string_view area_code;
  std::vector<std::string_view> districts;
};

struct Branch {
  int id;
  std::string_view razao;
  std::string_view fantasia;
  std::string_view cnpj;
  int cidade;
};

struct Customer {
  int id = 0;
  std::string razao;
  std::optional<std::string> fantasia;
  char tipo_pessoa = 'F';
  std::optional<std::string> cnpj_cpf;
  std::optional<std::string> email;
  std::optional<std::string> telefone_celular;
  char ativo = 'S';
  CivilDate data_cadastro;
  std::optional<std::string> endereco;
  std::optional<std::string> numero;
  std::optional<std::string> bairro;
  std::optional<std::string> cep;
  std::optional<int> cidade;
};

struct Receivable {
  int id = 0;
  int id_cliente = 0;
  std::optional<int> id_contrato;
  std::optional<int> filial_id;
  std::string documento;
  char status = 'A';       // 'A' open, 'R' received, 'C' cancelled
  int issued_in_days = 0;  // days from the load day; negative is in the past
  int due_in_days = 0;
  std::optional<Cents> valor;
  Cents valor_aberto = 0;
  Cents valor_recebido = 0;
};

/// A run of consecutive customers with all of their receivables.
struct Chunk {
  std::vector<Customer> customers;
  std::vector<Receivable> receivables;
};

}  // namespace demo
