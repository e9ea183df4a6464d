#include "tsdb/query_client.h"

#include <memory>
#include <new>

#include "app/console.h"
#include "text/excerpt.h"
#include "text/python_repr.h"
#include "tsdb/endpoints.h"
#include "tsdb/http_exchange.h"

namespace ixc {
namespace {

constexpr std::size_t kShownBodyBytes = 200;

std::string url_encoded(CURL* handle, const std::string& text) {
  std::unique_ptr<char, decltype(&curl_free)> encoded(
      curl_easy_escape(handle, text.data(), static_cast<int>(text.size())), curl_free);
  if (!encoded) throw std::bad_alloc();
  return encoded.get();
}

}  // namespace

HttpReply exec_reply(const std::string& sql_query) {
  std::string endpoint = query_host() + "/exec";
  CurlHandle handle = new_curl_handle();
  HttpRequest request{
      .url = endpoint + "?query=" + url_encoded(handle.get(), sql_query) + "&fmt=json",
      .shown_url = endpoint,
      .user = quest_user(),
      .password = quest_password(),
  };
  return http_exchange(handle.get(), request);
}

std::optional<nlohmann::ordered_json> run_query(const std::string& sql_query) {
  HttpReply reply;
  try {
    reply = exec_reply(sql_query);
  } catch (const HttpFailure& failure) {
    print_line(std::string("Error: ") + failure.what());
    return std::nullopt;
  }
  return decode_reply(query_host() + "/exec", reply);
}

nlohmann::ordered_json decode_reply(const std::string& endpoint, const HttpReply& reply) {
  auto failure = [&](const std::string& what) {
    return QueryError("resposta do QuestDB " + what + ": " + endpoint + " (HTTP " +
                      std::to_string(reply.status) + "): \"" +
                      one_line_excerpt(reply.body, kShownBodyBytes) + "\"");
  };
  struct TooDeep {};
  try {
    // The parser itself walks without recursion; the depth is checked as it goes, so that a
    // deep reply is refused before anything recursive touches it.
    return nlohmann::ordered_json::parse(
        reply.body, [](int depth, nlohmann::ordered_json::parse_event_t, nlohmann::ordered_json&) {
          if (depth > kMaxReplyDepth) throw TooDeep{};
          return true;
        });
  } catch (const TooDeep&) {
    throw failure("com mais de " + std::to_string(kMaxReplyDepth) + " níveis");
  } catch (const nlohmann::json::exception&) {
    // Not only syntax: a number beyond a double (out_of_range) is no reply we can read either.
    throw failure("que não é JSON");
  }
}

void print_reply(const std::optional<nlohmann::ordered_json>& reply) {
  print_line(reply ? python_repr(*reply) : std::string("None"));
}

}  // namespace ixc
