#pragma once
/// Serves one accepted connection on its own thread until either side closes it: reads HTTP/1.1
/// requests (split across packets, pipelined, keep-alive or Connection: close, Content-Length or
/// chunked bodies up to 128 MiB, "Expect: 100-continue" answered), answers each through the
/// endpoints, and applies the endpoint's fault switch to the reply. Closes the socket.
#include "questdb_standin/server_options.h"
#include "questdb_standin/table_store.h"

namespace ixc::standin {

constexpr std::size_t kMaxBodyBytes = 128u << 20;

void serve_connection(int fd, const ServerOptions& options, TableStore& store);

}  // namespace ixc::standin
