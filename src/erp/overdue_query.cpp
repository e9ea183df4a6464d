#include "erp/overdue_query.h"

#include "erp/row_conversion.h"

namespace ixc {

std::vector<ClientRow> obterDadosCliente(ErpConnection& conn) {
  ErpResult result = erp_query(conn, OVERDUE_STATEMENT);
  std::vector<ClientRow> rows;
  rows.reserve(erp_row_count(result));
  ErpRowValues values;
  while (erp_next_row(result, values)) {
    rows.push_back(client_row_from_values(values, rows.size() + 1));
  }
  return rows;
}

}  // namespace ixc
