#pragma once
/// HTTP/1.1 messages as the stand-in sees them: the request it read, the reply it will send,
/// and the decoding that its endpoints need (query parameters, Basic credentials).
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ixc::standin {

struct HttpRequest {
  std::string method;
  std::string path;                                          // the target up to '?', as sent
  std::string query_string;                                  // the target after '?', not decoded
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
  std::string body;
  bool keep_alive = true;
};

struct HttpResponse {
  int status = 200;
  std::string content_type;  // no Content-Type header when empty
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

std::optional<std::string_view> find_header(const HttpRequest& request, std::string_view name);

/// Percent-decoding with '+' read as a blank, as in a form-encoded query string.
std::string percent_decode(std::string_view text);
std::optional<std::string> query_parameter(std::string_view query_string, std::string_view name);

/// Whether an Authorization header value is "Basic " + base64(user ":" password).
bool basic_credentials_match(std::optional<std::string_view> authorization, std::string_view user,
                             std::string_view password);

/// Status line, headers (Content-Length except for 204) and body.
std::string serialize(const HttpResponse& response, bool keep_alive);

}  // namespace ixc::standin
