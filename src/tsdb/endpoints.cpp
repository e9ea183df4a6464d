#include "tsdb/endpoints.h"

#include "app/run_settings.h"

namespace ixc {

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
