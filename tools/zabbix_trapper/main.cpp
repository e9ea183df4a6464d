// zabbix-trapper-standin: a local stand-in for a Zabbix 6.0 trapper, for tests, the demo and the
// benchmark. See server_options.h for the command line.
//
// It prints the port it listens on as the first line of stdout, then reads one request frame
// per connection, records it to FILE (one JSON line each, request_record.h) and answers as
// trapper_answer.h says. With a PSK (psk_server.h) every connection must open with a TLS
// handshake for that identity and key; a client in clear text or with another key is closed
// without a frame, and the fault modes apply inside the session.
//
// Exit status: 0 after SIGTERM or SIGINT, 2 for a command line it cannot run, 1 when it cannot
// start (a record file it cannot write, an unusable key file, an address it cannot listen on).
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "zabbix_trapper/listener.h"
#include "zabbix_trapper/serve_loop.h"
#include "zabbix_trapper/server.h"
#include "zabbix_trapper/server_options.h"

using namespace trapper;

namespace {

int failure(const std::string& problem, int status) {
  std::fprintf(stderr, "zabbix-trapper-standin: %s\n", problem.c_str());
  return status;
}

void start(Server& server) {
  const ServerOptions& options = server.options;
  if (!options.record_path.empty()) {
    server.record = std::fopen(options.record_path.c_str(), "w");
    if (!server.record) {
      throw std::runtime_error("cannot write " + options.record_path + ": " + std::strerror(errno));
    }
    std::setvbuf(server.record, nullptr, _IOFBF, 1 << 20);
  }
  if (!options.psk_file.empty()) set_up_psk(server.psk, options.psk_identity, options.psk_file);
  server.listener = open_listener(options.listen);
}

}  // namespace

int main(int argc, char** argv) {
  Server server;
  try {
    server.options = parse_options(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& error) {
    return failure(error.what(), 2);
  }
  sigset_t run_mask = block_stop_signals();
  signal(SIGPIPE, SIG_IGN);

  try {
    start(server);
    std::printf("%u\n", listening_port(server.listener));
    std::fflush(stdout);
    serve(server, run_mask);
  } catch (const UsageError& error) {
    return failure(error.what(), 2);
  } catch (const std::exception& error) {
    return failure(error.what(), 1);
  }

  if (server.record) std::fclose(server.record);
  for (auto& connection : server.connections) close(connection.fd);
  return 0;
}
