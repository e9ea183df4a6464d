#pragma once
/// Everything the stand-in's poll loop works on: its options, the listening socket, the record
/// file, the open connections and, with a PSK, the TLS side.
#include <cstdio>
#include <vector>

#include "zabbix_trapper/connection.h"
#include "zabbix_trapper/psk_server.h"
#include "zabbix_trapper/server_options.h"

namespace trapper {

struct Server {
  ServerOptions options;
  int listener = -1;
  std::FILE* record = nullptr;  // null when nothing is recorded
  bool unflushed = false;       // lines written to `record` since its last flush
  std::vector<Connection> connections;
  PskServer psk;  // set up only with a key file; its credentials stay null in clear text
};

}  // namespace trapper
