#include "tsdb/line_sender.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "text/excerpt.h"
#include "vendor/tcp_client.h"

namespace ixc {
namespace {

constexpr std::size_t kShownBodyBytes = 300;

IngressError bad_conf(const std::string& what) {
  return IngressError("Bad sender configuration string: " + what);
}

// One `key=value;` entry; `text` is left after its ';'.
std::pair<std::string, std::string> next_entry(std::string_view& text) {
  std::size_t equals = text.find('=');
  // The entry itself is not quoted: it might be a password that lost its key.
  if (equals == std::string_view::npos || text.find(';') < equals) {
    throw bad_conf("an entry is not key=value;");
  }
  std::string key(text.substr(0, equals));
  if (key.empty()) throw bad_conf("an entry has no key");
  std::string value;
  std::size_t i = equals + 1;
  while (true) {
    if (i >= text.size()) throw bad_conf("missing ';' after the value of \"" + key + "\"");
    if (text[i] == ';') {
      if (i + 1 < text.size() && text[i + 1] == ';') {
        value.push_back(';');
        i += 2;
        continue;
      }
      break;
    }
    value.push_back(text[i++]);
  }
  text.remove_prefix(i + 1);
  return {std::move(key), std::move(value)};
}

void read_addr(const std::string& addr, SenderConfig& config) {
  std::optional<kestrelkit::HostPort> address = kestrelkit::parse_host_port(addr, 9000);
  if (!address) {
    throw bad_conf("addr \"" + addr + "\" is not HOST, HOST:PORT, [IPv6] or [IPv6]:PORT");
  }
  config.host = std::move(address->host);
  config.port = address->port;
}

// Empties the buffer on every way out of a flush, so that failed rows are not sent twice.
struct ClearOnExit {
  std::string& buffer;
  std::vector<std::size_t>& request_starts;
  ~ClearOnExit() {
    buffer.clear();
    request_starts.clear();
  }
};

}  // namespace

std::string refusal_text(const HttpReply& reply) {
  auto parsed = nlohmann::json::parse(reply.body, nullptr, false);
  if (parsed.is_object()) {
    auto message = parsed.find("message");
    // The server's words go to the console: on one line, shortened, no control bytes.
    if (message != parsed.end() && message->is_string()) {
      return one_line_excerpt(message->get<std::string>(), kShownMessageBytes);
    }
  }
  std::string text = "HTTP status " + std::to_string(reply.status);
  std::string_view body(reply.body);
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.remove_suffix(1);
  // A proxy's page may span lines; the "Erro: " line must not.
  if (!body.empty()) text += ": " + one_line_excerpt(body, kShownBodyBytes);
  return text;
}

SenderConfig parse_sender_conf(std::string_view conf) {
  std::size_t separator = conf.find("::");
  if (separator == std::string_view::npos) throw bad_conf("expected TRANSPORT::key=value;...");
  std::string transport(conf.substr(0, separator));
  if (transport != "http") throw bad_conf("unsupported transport \"" + transport + "\"");

  SenderConfig config;
  std::optional<std::string> addr, username, password;
  std::string_view rest = conf.substr(separator + 2);
  while (!rest.empty()) {
    auto [key, value] = next_entry(rest);
    std::optional<std::string>* slot = key == "addr"       ? &addr
                                       : key == "username" ? &username
                                       : key == "password" ? &password
                                                           : nullptr;
    if (slot == nullptr) throw bad_conf("unknown key \"" + key + "\"");
    if (*slot) throw bad_conf("key \"" + key + "\" given twice");
    *slot = std::move(value);
  }
  if (!addr) throw bad_conf("missing key \"addr\"");
  if (username.has_value() != password.has_value()) {
    throw bad_conf("\"username\" and \"password\" go together");
  }
  read_addr(*addr, config);
  config.username = username.value_or("");
  config.password = password.value_or("");
  return config;
}

LineSender::LineSender(SenderConfig config, CurlHandle handle, std::size_t request_bound)
    : config_(std::move(config)),
      write_url_("http://" + kestrelkit::tcp_peer_text(config_.host, config_.port) + "/write"),
      request_bound_(request_bound),
      handle_(std::move(handle)) {}

LineSender LineSender::from_conf(std::string_view conf, std::size_t request_bound) {
  SenderConfig config = parse_sender_conf(conf);
  CurlHandle handle(curl_easy_init());
  if (!handle) throw IngressError("Could not open sender: curl_easy_init failed");
  return LineSender(std::move(config), std::move(handle), request_bound);
}

void LineSender::row(LineName table, std::span<const Field> fields, TimestampNanos at) {
  std::size_t line_start = buffer_.size();
  if (append_line(buffer_, table, fields, at) == 0) {
    buffer_.resize(line_start);
    throw IngressError("Could not add a row to " + std::string(table.text) +
                       ": the line has no field");
  }
  // A line that would carry its request past the bound opens the next one; a line longer than
  // the bound goes alone.
  std::size_t request_start = request_starts_.empty() ? 0 : request_starts_.back();
  if (buffer_.size() - request_start > request_bound_ && line_start > request_start) {
    request_starts_.push_back(line_start);
  }
}

void LineSender::flush() {
  ClearOnExit clear{buffer_, request_starts_};
  std::string_view all = buffer_;
  std::size_t start = 0;
  for (std::size_t next : request_starts_) {
    post(all.substr(start, next - start));
    start = next;
  }
  if (start < all.size()) post(all.substr(start));
}

HttpReply LineSender::post_lines(std::string_view body) {
  HttpRequest request{
      .url = write_url_ + "?precision=n",
      .shown_url = write_url_,
      .post = body,
      .content_type = "text/plain; charset=utf-8",
      .user = config_.username,
      .password = config_.password,
  };
  return http_exchange(handle_.get(), request);
}

void LineSender::post(std::string_view body) {
  HttpReply reply;
  try {
    reply = post_lines(body);
  } catch (const HttpFailure& failure) {
    throw IngressError(std::string("Could not flush buffer: ") + failure.what());
  }
  if (reply.status != 204) throw IngressError("Could not flush buffer: " + refusal_text(reply));
}

}  // namespace ixc
