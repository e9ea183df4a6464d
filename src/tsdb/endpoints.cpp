#include "tsdb/endpoints.h"

#include "app/run_settings.h"
#include "text/excerpt.h"
#include "vendor/host_port.h"

namespace ixc {
namespace {

constexpr std::size_t kShownSettingBytes = 100;

const std::string& checked_host() {
  const std::string& host = required(run_settings().quest_db_ip, "quest_db_ip");
  if (!kestrelkit::parse_host(host)) {
    throw BadSetting("quest_db_ip (QUESTDB_HOST) \"" + one_line_excerpt(host, kShownSettingBytes) +
                     "\" não é um host: esperado nome, IPv4 ou [IPv6], sem porta");
  }
  return host;
}

const std::string& checked_port() {
  const std::string& port = required(run_settings().quest_db_port, "quest_db_port");
  if (!kestrelkit::parse_port(port)) {
    throw BadSetting("quest_db_port (QUESTDB_ILP_PORT) \"" +
                     one_line_excerpt(port, kShownSettingBytes) +
                     "\" não é uma porta: esperado um número inteiro de 1 a 65535");
  }
  return port;
}

}  // namespace

void check_questdb_settings() {
  checked_host();
  checked_port();
}

std::string query_host() {
  return "http://" + required(run_settings().quest_db_ip, "quest_db_ip") + ":9000";
}

std::string sender_conf() {
  const RunSettings& settings = run_settings();
  return "http::addr=" + required(settings.quest_db_ip, "quest_db_ip") + ":" +
         required(settings.quest_db_port, "quest_db_port") +
         ";username=" + std::string(kQuestUser) + ";password=" + std::string(kQuestPassword) + ";";
}

}  // namespace ixc
