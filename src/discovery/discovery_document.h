#pragma once
/// The Zabbix low-level discovery document of one collection: {"data": [ ... ]} with one object
/// per customer, by customer id (the report and the items keep the ERP's order), its macros in
/// record order, on one line, in the notation of Python's json.dumps with default arguments
/// (", " and ": " separators, non-ASCII as \u escapes).
#include <string>
#include <vector>

#include "discovery/records.h"

namespace ixc {

std::string build_discovery_document(const std::vector<ClientZbxRecord>& descobertaClientesZbx);

}  // namespace ixc
