// The program as shipped, but with the run-time limit taken from IXC_TEST_LIMIT_MS and the
// Zabbix server from IXC_TEST_ZABBIX_SERVER, so that tests can watch a limit run out in a second
// and point the values at a stand-in of their own.
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/run.h"

int main(int argc, char** argv) {
  ixc::RunOptions options;
  if (const char* limit = std::getenv("IXC_TEST_LIMIT_MS")) {
    options.limit = std::chrono::milliseconds(std::atol(limit));
  }
  if (const char* server = std::getenv("IXC_TEST_ZABBIX_SERVER")) options.zabbix_server = server;
  return ixc::run(std::vector<std::string>(argv, argv + argc), options);
}
