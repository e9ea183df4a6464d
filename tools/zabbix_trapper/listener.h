#pragma once
/// The stand-in's listening socket, nonblocking, so that one poll loop can accept and serve.
#include <string>

namespace trapper {

/// Listens on "v4:port" or "[v6]:port", numeric only; port 0 lets the system choose. Raises
/// UsageError for an address without a port, std::runtime_error when it cannot listen there.
int open_listener(const std::string& address);

/// The port `fd` is bound to, so that port 0 reports the one the system chose.
unsigned listening_port(int fd);

}  // namespace trapper
