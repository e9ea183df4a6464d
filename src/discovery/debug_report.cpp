#include "discovery/debug_report.h"

#include <string_view>

#include "app/console.h"
#include "text/float_repr.h"
#include "text/python_repr.h"

namespace ixc {
namespace {

constexpr std::string_view kCustomersHeading =
    "...======================================== Clientes em Atraso "
    "==============================================...";
constexpr std::string_view kActiveHeading =
    "...========================================== Clientes Ativos "
    "===============================================...";
constexpr std::string_view kInactiveHeading =
    "...========================================= Clientes Inativos "
    "==============================================...";

constexpr size_t kLabelWidth = 52;

void append_value(std::string& out, std::int64_t value) { append_int_repr(out, value); }
void append_value(std::string& out, double value) { append_float_repr(out, value); }
void append_value(std::string& out, const std::string& value) { append_str_repr(out, value); }
void append_value(std::string& out, const std::optional<std::string>& value) {
  if (value) {
    append_str_repr(out, *value);
  } else {
    out += "None";
  }
}
void append_value(std::string& out, const Amount& value) {
  std::visit([&](auto number) { append_value(out, number); }, value);
}

void append_heading(std::string& out, std::string_view heading) {
  // The line feed belongs to the heading text, so RESET stands alone on the next line.
  out += CYAN;
  out += heading;
  out += '\n';
  out += RESET;
  out += '\n';
}

// Labels are padded by characters, not bytes: "títulos" and "dívida" hold two-byte letters.
void append_total(std::string& out, std::string_view label, const auto& value) {
  out += label;
  size_t characters = 0;
  for (unsigned char byte : label) characters += (byte & 0xC0) != 0x80;
  if (characters < kLabelWidth) out.append(kLabelWidth - characters, ' ');
  out += ' ';
  append_value(out, value);
  out += '\n';
}

void append_record_line(std::string& out, const ClientZbxRecord& record) {
  out += '{';
  bool first = true;
  visit_fields(record, [&](const char* key, const auto& value) {
    if (!first) out += ", ";
    first = false;
    append_str_repr(out, key);
    out += ": ";
    append_value(out, value);
  });
  out += '}';
}

}  // namespace

std::string render_debug_report(const std::vector<ClientZbxRecord>& descobertaClientesZbx,
                                const OverdueTotals& totals) {
  std::string out;
  out.reserve(1024 + descobertaClientesZbx.size() * 256);
  out += "Modo debug ativado.\n";
  out += GREEN;
  out += "\nVersão do script: ";
  out += VERSION;
  out += CYAN;
  out += " \n\n";

  append_heading(out, kCustomersHeading);
  for (const ClientZbxRecord& record : descobertaClientesZbx) {
    append_record_line(out, record);
    out += '\n';
  }

  append_heading(out, kActiveHeading);
  append_total(out, "Total de clientes ativos em atraso:", totals.somaClientesAtrasoAtivo);
  append_total(out,
               "Total de títulos em atraso dos clientes ativos:", totals.somaTitulosAtrasoAtivo);
  append_total(out, "Valor total em dívida dos clientes ativos:", totals.somaValorAtrasoAtivo);

  append_heading(out, kInactiveHeading);
  append_total(out, "Total de clientes inativos em atraso:", totals.somaClientesAtrasoInativo);
  append_total(
      out, "Total de títulos em atraso dos clientes inativos:", totals.somaTitulosAtrasoInativo);
  append_total(out, "Valor total em dívida dos clientes inativos:", totals.somaValorAtrasoInativo);
  return out;
}

}  // namespace ixc
