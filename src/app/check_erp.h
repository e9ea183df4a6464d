#pragma once
/// The ERP's part of the check job: what a collection needs from the ERP's MariaDB/MySQL server,
/// tried in the order a collection meets it, one report line each.
///
///   ERP conexão   connection and login with this build's TLS setting: server version, TLS
///                 in use or not and its cipher
///   ERP tabelas   the four tables and every column the overdue statement reads exist and can
///                 be read by this account (each column that is missing is named)
///   ERP sql_mode  the session's sql_mode lacks ONLY_FULL_GROUP_BY, which refuses the statement
///   ERP data      the server's CURRENT_DATE() and time zone against this host's (AVISO when they
///                 differ: what is overdue follows the server's date)
///   ERP consulta  the collection's statement itself, once: customers, receivables, its time
///
/// Without a connection the other four cannot run and are not printed: the connection's line
/// says so. Only SELECT statements are sent; nothing in the ERP changes.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/check_report.h"
#include "erp/client_row.h"
#include "erp/erp_connection.h"

namespace ixc {

struct ErpCheck {
  std::optional<std::vector<ClientRow>> rows;  // the statement's rows, when it ran
  std::chrono::duration<double> statement_time{0};
};

ErpCheck check_erp(const ErpParameters& parameters, CheckReport& report);

/// The columns a statement reads, table by table, in the order they first appear.
struct ReadColumns {
  std::string table;
  std::vector<std::string> columns;
};

/// The `table.column` names of `statement`; the statement names every column with its table.
std::vector<ReadColumns> read_columns(std::string_view statement);

/// read_columns of the overdue statement.
const std::vector<ReadColumns>& statement_columns();

}  // namespace ixc
