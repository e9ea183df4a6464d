#pragma once
/// The two endpoints behind the Basic authentication check: `GET /exec?query=...` runs one
/// statement, `POST /write` stores line-protocol rows (204, or QuestDB's 400 JSON error with
/// nothing stored). Missing or wrong credentials get 401 with the plain-text body
/// "Unauthorized" CR LF; other paths and methods get 404.
#include "questdb_standin/http_request.h"
#include "questdb_standin/server_options.h"
#include "questdb_standin/table_store.h"

namespace ixc::standin {

enum class Endpoint { Exec, Write, Other };

Endpoint endpoint_of(const HttpRequest& request);

/// The fault of an endpoint, for the connection to apply to the transport.
Fault fault_of(const ServerOptions& options, Endpoint endpoint);

/// Locks store.mutex while it reads or changes tables.
HttpResponse answer(const HttpRequest& request, const ServerOptions& options, TableStore& store);

/// 413, for a body past the size limit (the connection is closed after it).
HttpResponse too_large_response();

}  // namespace ixc::standin
