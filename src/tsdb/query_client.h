#pragma once
/// The client of QuestDB's HTTP query endpoint: one statement per call, each on its own
/// connection, one GET to "/exec" on port 9000 of `quest_db_ip` with the URL-encoded `query`
/// and `fmt=json`, signed in with the fixed credentials. The reply is decoded as JSON whatever
/// its status, keeping the order of its members, so that an error object comes back like any
/// other reply.
///
/// A request that fails (unresolvable host, refused or reset connection, malformed URL) prints
/// "Error: " and the failure's text on standard output and gives no result. A body that is not
/// JSON, or JSON nested deeper than kMaxReplyDepth, raises QueryError naming the URL, the status
/// and the start of the body. A spent run-time limit raises kestrelkit::TimeoutException.
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>

#include "tsdb/http_exchange.h"

namespace ixc {

struct QueryError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// QuestDB's replies nest 3 or 4 levels. Printing, copying and comparing a reply recurse once
/// per level, so a reply may not choose how deep that goes.
inline constexpr int kMaxReplyDepth = 32;

std::optional<nlohmann::ordered_json> run_query(const std::string& sql_query);

/// The request of run_query with the reply kept whole, status and body, for the check job,
/// which tells a refusal of the credentials from an answer. Raises HttpFailure when the request
/// fails; prints nothing.
HttpReply exec_reply(const std::string& sql_query);

/// The reply body decoded as JSON, member order kept; QueryError naming `endpoint`, the status
/// and the start of the body (on one line) when it is not JSON or nests past kMaxReplyDepth.
nlohmann::ordered_json decode_reply(const std::string& endpoint, const HttpReply& reply);

/// Prints a reply on one line in Python's notation, or "None" for no result.
void print_reply(const std::optional<nlohmann::ordered_json>& reply);

}  // namespace ixc
