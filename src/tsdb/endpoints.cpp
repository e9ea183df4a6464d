#include "tsdb/endpoints.h"

#include <fstream>
#include <optional>

#include "app/deployment.h"
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

// The password file's first line, read once a process. A file that failed is read again next
// time, so a check run after the operator fixed it sees the fix.
std::optional<std::string> remembered_password;

std::string read_password(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) {
    throw BadSetting(
        "senha do QuestDB: " + file +
        " não pode ser lido por esta conta (IXC_QUESTDB_PASSWORD_FILE; root:ixc-atraso, "
        "modo 640)");
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) {
    throw BadSetting("senha do QuestDB: a primeira linha de " + file +
                     " está vazia (IXC_QUESTDB_PASSWORD_FILE)");
  }
  return line;
}

// ';' ends an entry of the configuration string; ";;" stands for one inside a value.
std::string conf_value(std::string_view text) {
  std::string value;
  for (char c : text) {
    value.push_back(c);
    if (c == ';') value.push_back(';');
  }
  return value;
}

}  // namespace

std::string_view quest_user() { return deployment::kQuestDbUser; }

const std::string& quest_password() {
  if (!remembered_password) {
    std::string file = deployment::kQuestDbPasswordFile;
    remembered_password = file.empty() ? std::string(kQuestPassword) : read_password(file);
  }
  return *remembered_password;
}

void check_questdb_settings() {
  checked_host();
  checked_port();
  quest_password();
}

std::string query_host() {
  return "http://" + required(run_settings().quest_db_ip, "quest_db_ip") + ":9000";
}

std::string sender_conf() {
  const RunSettings& settings = run_settings();
  return "http::addr=" + required(settings.quest_db_ip, "quest_db_ip") + ":" +
         required(settings.quest_db_port, "quest_db_port") +
         ";username=" + conf_value(quest_user()) + ";password=" + conf_value(quest_password()) +
         ";";
}

}  // namespace ixc
