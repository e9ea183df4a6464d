#pragma once
/// The QuestDB part of the check job, one report line each:
///
///   QuestDB /exec      the query endpoint on port 9000 answers and takes the program's fixed
///                      credentials (a 401 says how the server must be configured)
///   QuestDB versão     what `select build()` answers
///   QuestDB <table>    ixcClientes and ixcClientesSoma: present, their columns against the
///                      expected ones, the designated timestamp, WAL; a table whose WAL is
///                      suspended takes rows and never applies them, a FALHA that gives the
///                      statement resuming it
///   QuestDB /write     the line-protocol endpoint on QUESTDB_ILP_PORT takes the credentials, by
///                      an empty request, which writes no row
///   QuestDB dados      when the last ixcClientesSoma row landed, and the rows in ixcClientes
///
/// Only reading statements go to /exec; nothing is created, changed or emptied. Without an
/// /exec that answers, the lines that need it are not printed: its line says so.
#include "app/check_report.h"

namespace ixc {

/// Reads quest_db_ip and quest_db_port from the settings record, as a collection does.
void check_questdb(CheckReport& report);

}  // namespace ixc
