#pragma once
/// Runs a program as a child process and collects what it printed, its exit status and how long
/// it took. Tests use it to watch the real program from the outside.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace ixc::test {

struct ProgramRun {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal
  std::chrono::milliseconds elapsed{0};
};

struct ProgramOptions {
  std::string argv0;                     // position 0 as the program sees it; the path if empty
  std::vector<std::string> environment;  // extra NAME=VALUE entries
  std::chrono::milliseconds kill_after = std::chrono::seconds(120);
  // Called with the child's PID once it is started, before its output is read; output beyond a
  // pipe's buffer would block the child until the call returns.
  std::function<void(int pid)> while_running;
};

ProgramRun run_program(const std::string& path, const std::vector<std::string>& args,
                       const ProgramOptions& options = {});

/// The shipped program, and its test build, which takes the run-time limit from
/// IXC_TEST_LIMIT_MS, the Zabbix server from IXC_TEST_ZABBIX_SERVER and the ERP's TLS settings
/// from IXC_TEST_ERP_TLS and IXC_TEST_ERP_TLS_CA.
std::string program_path();
std::string test_build_program_path();

/// The lines of a text without their line feeds; a last line without one counts too.
std::vector<std::string> lines_of(const std::string& text);

/// The ten-element command line of a collection run against the given servers.
std::vector<std::string> full_arguments(const std::string& mode, const std::string& db_host,
                                        const std::string& db_port, const std::string& quest_db_ip,
                                        const std::string& quest_db_port,
                                        const std::string& zabbix_host);

}  // namespace ixc::test
