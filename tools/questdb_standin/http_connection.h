#pragma once
/// Serves one accepted connection on its own thread until either side closes it: reads HTTP/1.1
/// requests (split across packets, pipelined, keep-alive or Connection: close, Content-Length or
/// chunked bodies up to 1 GiB, "Expect: 100-continue" answered), answers each through the
/// endpoints, and applies the endpoint's fault switch to the reply. Closes the socket.
#include "questdb_standin/server_options.h"
#include "questdb_standin/table_store.h"

namespace ixc::standin {

/// QuestDB itself took a 430 MB line-protocol body (a million customers in one request) with 204;
/// the stand-in must not refuse what the server takes.
constexpr std::size_t kMaxBodyBytes = std::size_t{1} << 30;

void serve_connection(int fd, const ServerOptions& options, TableStore& store);

}  // namespace ixc::standin
