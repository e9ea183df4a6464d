#pragma once
/// Where the two QuestDB endpoints are and how the program signs in to them. The query
/// endpoint is always on port 9000 of `quest_db_ip`; only the ingestion sender uses
/// `quest_db_port`. Both settings go into the texts as they stand: whoever sends with them calls
/// check_questdb_settings first, since a setting that is not a host (vendor/host_port.h) or a
/// port could take the credentials to another port or path. One pair of credentials serves
/// both endpoints.
#include <stdexcept>
#include <string>
#include <string_view>

namespace ixc {

/// What a build signs in with unless it names its own user (IXC_QUESTDB_USER) and password file
/// (IXC_QUESTDB_PASSWORD_FILE): servers set up for these keep working.
inline constexpr std::string_view kQuestUser = "kestrel";
inline constexpr std::string_view kQuestPassword = "observarQZ";

/// The user this build signs in as.
std::string_view quest_user();

/// The password this build signs in with: the build's password file, read on the first call of
/// the process (its first line, without the line feed) and kept, or kQuestPassword when the
/// build names no file. Raises BadSetting naming the file, never its content, when it cannot be
/// read or its first line is empty.
const std::string& quest_password();

struct BadSetting : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// Raises BadSetting naming `quest_db_ip` or `quest_db_port` and its text when it is not a host
/// ("name", "IPv4", "[IPv6]") or a port (1 to 65535), or the password file when it cannot be
/// read; MissingSetting in the short form.
void check_questdb_settings();

/// "http://" + quest_db_ip + ":9000", the base of the query endpoint's URL.
std::string query_host();

/// "http::addr=" + quest_db_ip + ":" + quest_db_port + ";username=...;password=...;", the
/// configuration string with which each write pass opens its sender.
std::string sender_conf();

}  // namespace ixc
