#pragma once
/// The three records that one collection builds. A discovery record's macro keys and their order
/// are said in one place: `visit_fields` calls `visit(key, value)` field by field, and both of its
/// renderings (the discovery document and the debug report) walk it that way. The storage and
/// totals records are written field by field, by name, by their writers (tsdb/) and the item
/// sends, each in the order of its own table or item list.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "erp/client_row.h"

namespace ixc {

/// A value total: the integer 0 until its first addition, a double from then on.
using Amount = std::variant<std::int64_t, double>;

struct ClientZbxRecord {
  std::int64_t idCliente = 0;
  std::optional<std::string> razaoSocial;
  std::optional<std::string> cpfCnpj;
  std::int64_t statusCliente = 1;
  std::string contatoCliente;  // "N/A" when the ERP has none
  double valorAtraso = 0;
  std::int64_t titulosAtraso = 0;
};

struct ClientDbRecord {
  std::int64_t idCliente = 0;
  std::int64_t idContrato = 0;
  std::optional<std::string> razaoSocial;
  std::optional<std::string> cpfCnpj;
  std::optional<std::string> contatoCliente;  // absent when the ERP has none, never "N/A"
  std::int64_t statusCliente = 1;
  std::optional<LocalDateTime> dataCadastro;
  double valorAtraso = 0;
  std::int64_t titulosAtraso = 0;
  std::optional<LocalDateTime> dataVencimento;
  std::optional<std::string> filial;
  std::optional<std::string> cidade;
  std::optional<std::string> bairro;
  std::string ixcIdentification;
};

struct TotalsRecord {
  std::int64_t clientesAtrasoInativo = 0;
  std::int64_t clientesAtrasoAtivo = 0;
  std::int64_t titulosAtrasoInativo = 0;
  std::int64_t titulosAtrasoAtivo = 0;
  Amount valorAtrasoInativo = std::int64_t{0};  // unrounded
  Amount valorAtrasoAtivo = std::int64_t{0};    // unrounded
};

template <class Visit>
void visit_fields(const ClientZbxRecord& r, Visit&& visit) {
  visit("{#ID_CLIENTE}", r.idCliente);
  visit("{#RAZAO_SOCIAL}", r.razaoSocial);
  visit("{#CPF_CNPJ}", r.cpfCnpj);
  visit("{#STATUS_CLIENTE}", r.statusCliente);
  visit("{#CONTATO_CLIENTE}", r.contatoCliente);
  visit("{#VALOR_ATRASO}", r.valorAtraso);
  visit("{#TITULOS_ATRASO}", r.titulosAtraso);
}

}  // namespace ixc
