#include "tsdb/http_exchange.h"

#include <chrono>
#include <new>
#include <thread>

#include "vendor/runtime_limiter.h"

namespace ixc {
namespace {

using namespace std::chrono_literals;

struct CurlHeaders {
  curl_slist* list = nullptr;
  ~CurlHeaders() { curl_slist_free_all(list); }
  void add(const std::string& header) {
    curl_slist* grown = curl_slist_append(list, header.c_str());
    if (grown == nullptr) throw std::bad_alloc();
    list = grown;
  }
};

// Returning less than it was given makes curl abandon the transfer (CURLE_WRITE_ERROR).
extern "C" size_t append_to_body(char* data, size_t size, size_t count, void* body) {
  auto* text = static_cast<std::string*>(body);
  if (size * count > kMaxReplyBytes - text->size()) return 0;
  text->append(data, size * count);
  return size * count;
}

// curl's timer can fire a hair before our own deadline. When the wait was cut by the limit,
// sit out the rest so that the limit raises and stays spent; a time-out with more than a moment
// left was not the limit's and is reported as an ordinary failure.
void raise_if_limit_cut(std::chrono::milliseconds allowed) {
  auto left = kestrelkit::time_left();
  if (allowed >= kestrelkit::kUnlimited || left > 1s) return;
  while (true) {
    std::this_thread::sleep_for(left);
    left = kestrelkit::time_left();
  }
}

}  // namespace

CurlHandle new_curl_handle() {
  CurlHandle handle(curl_easy_init());
  if (!handle) throw std::runtime_error("não foi possível iniciar o cliente HTTP (curl_easy_init)");
  return handle;
}

HttpReply http_exchange(CURL* handle, const HttpRequest& request) {
  HttpReply reply;
  char cause[CURL_ERROR_SIZE] = {};
  CurlHeaders headers;
  std::string user(request.user);
  std::string password(request.password);

  curl_easy_reset(handle);
  curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, cause);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, append_to_body);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reply.body);
  if (!user.empty()) {
    curl_easy_setopt(handle, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
    curl_easy_setopt(handle, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, password.c_str());
  }
  if (request.post) {
    curl_easy_setopt(handle, CURLOPT_POST, 1L);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.post->data());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.post->size()));
    headers.add("Content-Type: " + std::string(request.content_type));
    // Large bodies would otherwise wait a second for a "100 Continue" that the server never sends.
    headers.add("Expect:");
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.list);
  }

  auto allowed = kestrelkit::time_left();
  curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(allowed.count()));
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(allowed.count()));

  CURLcode code = curl_easy_perform(handle);
  if (code == CURLE_OPERATION_TIMEDOUT) raise_if_limit_cut(allowed);
  if (code == CURLE_WRITE_ERROR) {
    throw HttpFailure(std::string(request.shown_url) + ": resposta com mais de " +
                      std::to_string(kMaxReplyBytes >> 20) +
                      " MiB; a leitura parou aí e a conexão foi fechada");
  }
  if (code != CURLE_OK) {
    std::string text = cause[0] != '\0' ? cause : curl_easy_strerror(code);
    throw HttpFailure(std::string(request.shown_url) + ": " + text);
  }
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &reply.status);
  return reply;
}

}  // namespace ixc
