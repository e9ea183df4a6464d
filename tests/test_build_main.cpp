// The program as shipped, but with the run-time limit taken from IXC_TEST_LIMIT_MS and the
// Zabbix server from IXC_TEST_ZABBIX_SERVER, so that tests can watch a limit run out in a second
// and point the values at a stand-in of their own. IXC_TEST_ZABBIX_TLS_CONNECT,
// IXC_TEST_ZABBIX_TLS_PSK_IDENTITY and IXC_TEST_ZABBIX_TLS_PSK_FILE replace the encryption
// settings the same way.
#include <chrono>
#include <cstdio>
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
  if (const char* connect = std::getenv("IXC_TEST_ZABBIX_TLS_CONNECT")) {
    using kestrelkit::ZabbixTlsConnect;
    if (std::string(connect) == "psk") {
      options.zabbix_tls.connect = ZabbixTlsConnect::psk;
    } else if (std::string(connect) == "unencrypted") {
      options.zabbix_tls.connect = ZabbixTlsConnect::unencrypted;
    } else {
      std::fprintf(stderr, "IXC_TEST_ZABBIX_TLS_CONNECT must be psk or unencrypted\n");
      return 2;
    }
  }
  if (const char* identity = std::getenv("IXC_TEST_ZABBIX_TLS_PSK_IDENTITY")) {
    options.zabbix_tls.psk_identity = identity;
  }
  if (const char* file = std::getenv("IXC_TEST_ZABBIX_TLS_PSK_FILE")) {
    options.zabbix_tls.psk_file = file;
  }
  return ixc::run(std::vector<std::string>(argv, argv + argc), options);
}
