#pragma once
/// The stand-in's one poll loop, which serves every connection, so that a connection held open
/// by the `silent` fault or answered slowly never holds up the others. SIGTERM or SIGINT ends it.
#include <signal.h>

#include "zabbix_trapper/server.h"

namespace trapper {

/// Blocks SIGTERM and SIGINT and installs their handler; returns the mask that lets them in,
/// which serve() waits with. Called before anything that a stop must not cut short.
sigset_t block_stop_signals();

/// Accepts and serves until a stop signal; raises std::runtime_error when poll fails.
void serve(Server& server, const sigset_t& run_mask);

}  // namespace trapper
