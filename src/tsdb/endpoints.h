#pragma once
/// Where the two QuestDB endpoints are and how the program signs in to them. The query
/// endpoint is always on port 9000 of `quest_db_ip`; only the ingestion sender uses
/// `quest_db_port`. Both settings go into the texts as they stand: whoever sends with them calls
/// check_questdb_settings first, since a setting that is not a host (vendor/host_port.h) or a
/// port could take the credentials to another port or path. One fixed pair of credentials
/// serves both endpoints.
#include <stdexcept>
#include <string>
#include <string_view>

namespace ixc {

inline constexpr std::string_view kQuestUser = "kestrel";
inline constexpr std::string_view kQuestPassword = "observarQZ";

struct BadSetting : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// Raises BadSetting naming `quest_db_ip` or `quest_db_port` and its text when it is not a host
/// ("name", "IPv4", "[IPv6]") or a port (1 to 65535); MissingSetting in the short form.
void check_questdb_settings();

/// "http://" + quest_db_ip + ":9000", the base of the query endpoint's URL.
std::string query_host();

/// "http::addr=" + quest_db_ip + ":" + quest_db_port + ";username=...;password=...;", the
/// configuration string with which each write pass opens its sender.
std::string sender_conf();

}  // namespace ixc
