#pragma once
/// The ingestion sender of the writers: rows in the line protocol (line_protocol.h) over HTTP to
/// QuestDB's "/write?precision=n", signed in with Basic authentication. Opened from a client
/// configuration string, it buffers the rows that `row` appends and hands them to the server at
/// `flush`; closing it (scope exit) drops what was not flushed and never raises.
///
/// One flush sends the whole buffer in one request up to its request bound (kMaxRequestBytes)
/// and beyond that in as few requests as the bound allows, each made of whole lines: a request
/// that ends inside a quoted text (whose line feeds are written raw) is refused whole by the
/// server, so the cuts are the line starts that `row` recorded, never a search for a line feed.
/// Every failure - an unusable configuration, a request that fails, a reply other than 204 - raises
/// IngressError, whose text never contains the password; a spent run-time limit raises
/// kestrelkit::TimeoutException instead. After a failed flush the buffer is empty.
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tsdb/http_exchange.h"
#include "tsdb/line_protocol.h"

namespace ixc {

struct IngressError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// The body of one request stays within this bound (a single longer line goes alone); the
/// server takes bodies far beyond it, and a pass of 300 000 customers is about 75 MB.
inline constexpr std::size_t kMaxRequestBytes = std::size_t{64} << 20;

/// What a configuration string says: "http::addr=HOST:PORT;username=U;password=P;".
struct SenderConfig {
  std::string host;  // a name or an address; an IPv6 literal without its brackets
  std::uint16_t port = 9000;
  std::string username;
  std::string password;
};

/// Reads a configuration string: transport "http", key `addr` required (port 9000 when it
/// gives none), `username` and `password` together or not at all, every entry ended by ';'
/// (";;" inside a value stands for ';'). Anything else raises IngressError.
SenderConfig parse_sender_conf(std::string_view conf);

/// The server's own words for a refused /write, on one line and shortened (text/excerpt.h): the
/// `message` of its JSON error (kShownMessageBytes of it), else "HTTP status N" and the start of
/// the body.
inline constexpr std::size_t kShownMessageBytes = 1000;
std::string refusal_text(const HttpReply& reply);

class LineSender {
 public:
  /// `request_bound` is kMaxRequestBytes but in tests.
  static LineSender from_conf(std::string_view conf, std::size_t request_bound = kMaxRequestBytes);

  /// Appends one line; raises IngressError when no field is left to write.
  void row(LineName table, std::span<const Field> fields, TimestampNanos at);

  /// Sends every buffered line; an empty buffer sends nothing.
  void flush();

  /// Makes room for `bytes` of lines, so that appending does not reallocate on the way.
  void reserve(std::size_t bytes) { buffer_.reserve(bytes); }
  const std::string& buffer() const { return buffer_; }
  /// Where each request of the next flush after the first starts in buffer(): a line's start.
  const std::vector<std::size_t>& request_starts() const { return request_starts_; }

  /// Posts `body` as it is, past the buffer, and returns the reply whatever its status; raises
  /// HttpFailure when the request fails. The check job posts an empty body, which the server
  /// answers 204 without writing anything, to try the credentials.
  HttpReply post_lines(std::string_view body);

  /// "http://HOST:PORT/write", as error texts name it.
  const std::string& write_url() const { return write_url_; }

  LineSender(LineSender&&) noexcept = default;
  LineSender& operator=(LineSender&&) noexcept = default;
  ~LineSender() = default;

 private:
  LineSender(SenderConfig config, CurlHandle handle, std::size_t request_bound);
  void post(std::string_view body);

  SenderConfig config_;
  std::string write_url_;
  std::string buffer_;
  std::vector<std::size_t> request_starts_;
  std::size_t request_bound_;
  CurlHandle handle_;
};

}  // namespace ixc
