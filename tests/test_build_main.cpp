// The program as shipped, but with the run-time limit taken from IXC_TEST_LIMIT_MS, the Zabbix
// server from IXC_TEST_ZABBIX_SERVER and its encryption from IXC_TEST_ZABBIX_TLS_CONNECT,
// IXC_TEST_ZABBIX_TLS_PSK_IDENTITY and IXC_TEST_ZABBIX_TLS_PSK_FILE, and the ERP's TLS settings
// from IXC_TEST_ERP_TLS and IXC_TEST_ERP_TLS_CA, so that tests can watch a limit run out in a
// second, point the values at a stand-in of their own and try every TLS mode without a build each.
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/run.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  ixc::mask_password_argument(argc, argv);
  ixc::RunOptions options;
  if (const char* limit = std::getenv("IXC_TEST_LIMIT_MS")) {
    options.limit = std::chrono::milliseconds(std::atol(limit));
  }
  if (const char* server = std::getenv("IXC_TEST_ZABBIX_SERVER")) options.zabbix_server = server;
  if (const char* connect = std::getenv("IXC_TEST_ZABBIX_TLS_CONNECT")) {
    options.zabbix_tls.connect = kestrelkit::parse_zabbix_tls_connect(connect);
  }
  if (const char* identity = std::getenv("IXC_TEST_ZABBIX_TLS_PSK_IDENTITY")) {
    options.zabbix_tls.psk_identity = identity;
  }
  if (const char* file = std::getenv("IXC_TEST_ZABBIX_TLS_PSK_FILE")) {
    options.zabbix_tls.psk_file = file;
  }
  if (const char* tls = std::getenv("IXC_TEST_ERP_TLS")) {
    options.erp_tls.mode = ixc::parse_erp_tls_mode(tls);
  }
  if (const char* ca = std::getenv("IXC_TEST_ERP_TLS_CA")) options.erp_tls.ca = ca;
  return ixc::run(args, options);
}
