#pragma once
/// One HTTP exchange with a QuestDB endpoint over libcurl, shared by the query client and the
/// line sender: Basic authentication, no redirect followed, and every wait (connect, send,
/// receive) bounded by the time left of the run-time limit. There is no time-out of its own and
/// no retry. A spent limit raises kestrelkit::TimeoutException; any other failure of the request
/// raises HttpFailure, whose text names the URL (without query string or credentials) and
/// curl's cause. A reply with any status is a reply, not a failure, unless its body passes
/// kMaxReplyBytes: the exchange stops reading there and raises HttpFailure naming the bound.
#include <curl/curl.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ixc {

/// Far above any reply the program reads (a column listing is under 10 KB, a refusal of
/// /write under 1 KB), and far below what would strain the machine.
inline constexpr std::size_t kMaxReplyBytes = std::size_t{8} << 20;

struct HttpFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct HttpReply {
  long status = 0;
  std::string body;
};

struct CurlCleanup {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
/// A curl handle; its connection closes with it.
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;
CurlHandle new_curl_handle();

struct HttpRequest {
  std::string url;                                      // the full URL, query string included
  std::string_view shown_url = {};                      // what failure texts name
  std::optional<std::string_view> post = std::nullopt;  // a POST body; a GET when absent
  std::string_view content_type = {};                   // for a POST
  std::string_view user = {};                           // Basic authentication, when not empty
  std::string_view password = {};
};

/// Sends `request` on `handle` and waits for the whole reply.
HttpReply http_exchange(CURL* handle, const HttpRequest& request);

}  // namespace ixc
