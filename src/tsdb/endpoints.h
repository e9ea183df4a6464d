#pragma once
/// Where the two QuestDB endpoints are and how the program signs in to them. The query
/// endpoint is always on port 9000 of `quest_db_ip`; only the ingestion sender uses
/// `quest_db_port`. Both settings go into the texts as they stand, without validation. One fixed
/// pair of credentials serves both endpoints.
#include <string>
#include <string_view>

namespace ixc {

inline constexpr std::string_view kQuestUser = "kestrel";
inline constexpr std::string_view kQuestPassword = "observarQZ";

/// "http://" + quest_db_ip + ":9000", the base of the query endpoint's URL.
std::string query_host();

/// "http::addr=" + quest_db_ip + ":" + quest_db_port + ";username=...;password=...;", the
/// configuration string with which each write pass opens its sender.
std::string sender_conf();

}  // namespace ixc
