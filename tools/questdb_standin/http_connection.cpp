#include "questdb_standin/http_connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <thread>

#include "questdb_standin/endpoints.h"
#include "questdb_standin/names.h"

namespace ixc::standin {

namespace {

constexpr std::size_t kMaxHeadBytes = 64u << 10;

enum class ReadResult { Request, Closed, Malformed, TooLarge };

struct Connection {
  int fd;
  std::string buffer;  // bytes received and not yet consumed
};

bool receive_more(Connection& c) {
  char chunk[65536];
  for (;;) {
    ssize_t n = recv(c.fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      c.buffer.append(chunk, static_cast<size_t>(n));
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

bool send_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool parse_head(std::string_view head, HttpRequest& request) {
  size_t line_end = head.find("\r\n");
  std::string_view request_line = head.substr(0, line_end);
  size_t first = request_line.find(' ');
  size_t last = request_line.rfind(' ');
  if (first == std::string_view::npos || first == last) return false;
  request.method = std::string(request_line.substr(0, first));
  std::string_view target = request_line.substr(first + 1, last - first - 1);
  std::string_view version = request_line.substr(last + 1);
  if (version != "HTTP/1.1" && version != "HTTP/1.0") return false;
  size_t question = target.find('?');
  request.path = std::string(target.substr(0, question));
  request.query_string =
      question == std::string_view::npos ? "" : std::string(target.substr(question + 1));
  request.keep_alive = version == "HTTP/1.1";
  std::string_view rest = line_end == std::string_view::npos ? "" : head.substr(line_end + 2);
  while (!rest.empty()) {
    size_t end = rest.find("\r\n");
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? "" : rest.substr(end + 2);
    if (line.empty()) continue;
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    request.headers.emplace_back(folded_name(trim(line.substr(0, colon))),
                                 std::string(trim(line.substr(colon + 1))));
  }
  if (auto connection = find_header(request, "connection")) {
    if (same_name(*connection, "close")) request.keep_alive = false;
    if (same_name(*connection, "keep-alive")) request.keep_alive = true;
  }
  return true;
}

// Makes sure that `count` bytes are buffered, receiving more as needed.
bool buffer_at_least(Connection& c, size_t count) {
  while (c.buffer.size() < count) {
    if (!receive_more(c)) return false;
  }
  return true;
}

ReadResult read_sized_body(Connection& c, size_t length, std::string& body) {
  if (length > kMaxBodyBytes) return ReadResult::TooLarge;
  // Large bodies are received straight into place rather than through the buffer.
  size_t have = std::min(length, c.buffer.size());
  body.resize(length);
  body.replace(0, have, c.buffer, 0, have);
  c.buffer.erase(0, have);
  while (have < length) {
    ssize_t n = recv(c.fd, body.data() + have, length - have, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return ReadResult::Closed;
    have += static_cast<size_t>(n);
  }
  return ReadResult::Request;
}

ReadResult read_chunked_body(Connection& c, std::string& body) {
  for (;;) {
    size_t line_end;
    while ((line_end = c.buffer.find("\r\n")) == std::string::npos) {
      if (c.buffer.size() > kMaxHeadBytes) return ReadResult::Malformed;
      if (!receive_more(c)) return ReadResult::Closed;
    }
    size_t size = 0;
    const char* digits = c.buffer.data();
    auto parsed = std::from_chars(digits, digits + line_end, size, 16);
    if (parsed.ec != std::errc{} || parsed.ptr == digits) return ReadResult::Malformed;
    c.buffer.erase(0, line_end + 2);
    if (size == 0) {
      // Trailers, if any, up to the empty line.
      for (;;) {
        while ((line_end = c.buffer.find("\r\n")) == std::string::npos) {
          if (!receive_more(c)) return ReadResult::Closed;
        }
        c.buffer.erase(0, line_end + 2);
        if (line_end == 0) return ReadResult::Request;
      }
    }
    if (body.size() + size > kMaxBodyBytes) return ReadResult::TooLarge;
    if (!buffer_at_least(c, size + 2)) return ReadResult::Closed;
    body.append(c.buffer, 0, size);
    if (c.buffer.compare(size, 2, "\r\n") != 0) return ReadResult::Malformed;
    c.buffer.erase(0, size + 2);
  }
}

ReadResult read_request(Connection& c, HttpRequest& request) {
  size_t head_end;
  while ((head_end = c.buffer.find("\r\n\r\n")) == std::string::npos) {
    if (c.buffer.size() > kMaxHeadBytes) return ReadResult::Malformed;
    if (!receive_more(c)) return ReadResult::Closed;
  }
  if (!parse_head(std::string_view(c.buffer).substr(0, head_end), request)) {
    return ReadResult::Malformed;
  }
  c.buffer.erase(0, head_end + 4);
  auto encoding = find_header(request, "transfer-encoding");
  bool chunked = encoding && same_name(*encoding, "chunked");
  size_t length = 0;
  if (!chunked) {
    if (auto text = find_header(request, "content-length")) {
      auto parsed = std::from_chars(text->data(), text->data() + text->size(), length);
      if (parsed.ec != std::errc{} || parsed.ptr != text->data() + text->size()) {
        return ReadResult::Malformed;
      }
    }
    if (length > kMaxBodyBytes) return ReadResult::TooLarge;
  }
  auto expect = find_header(request, "expect");
  if (expect && same_name(*expect, "100-continue") && (chunked || length > c.buffer.size())) {
    if (!send_all(c.fd, "HTTP/1.1 100 Continue\r\n\r\n")) return ReadResult::Closed;
  }
  return chunked ? read_chunked_body(c, request.body) : read_sized_body(c, length, request.body);
}

// Waits until the client gives up, so that it sees a connection that never answers.
void hang(Connection& c) {
  while (receive_more(c)) c.buffer.clear();
}

const char kGarbage[] =
    "<html><head><title>Gateway</title></head><body><h1>It works!</h1></body></html>\n";
const char kNotHttp[] = "\x16\x03\x01\x00\x05hello, this is not HTTP\r\n\x00\xff\xfe";

// Sends the reply as the fault says; false when the connection is to be closed afterwards.
bool send_reply(Connection& c, Fault fault, const HttpResponse& response, bool keep_alive) {
  switch (fault) {
    case Fault::Hang:
      hang(c);
      return false;
    case Fault::Drop: {
      // Cut inside the body, the client is short of Content-Length; a client takes headers cut
      // off by the close for a whole reply, so a reply without a body is cut in its status line.
      std::string bytes = serialize(response, keep_alive);
      size_t cut = response.body.empty() ? bytes.find("\r\n") / 2
                                         : bytes.size() - response.body.size() / 2 - 1;
      send_all(c.fd, std::string_view(bytes).substr(0, cut));
      return false;
    }
    case Fault::Garbage:
      return send_all(c.fd, serialize({200, "text/html", kGarbage, {}}, keep_alive)) && keep_alive;
    case Fault::BadHttp:
      send_all(c.fd, std::string_view(kNotHttp, sizeof kNotHttp - 1));
      return false;
    case Fault::Slow: {
      std::string bytes = serialize(response, keep_alive);
      for (char byte : bytes) {
        if (!send_all(c.fd, std::string_view(&byte, 1))) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      return keep_alive;
    }
    case Fault::None:
    case Fault::Reject:
      break;
  }
  return send_all(c.fd, serialize(response, keep_alive)) && keep_alive;
}

}  // namespace

void serve_connection(int fd, const ServerOptions& options, TableStore& store) {
  Connection c{fd, {}};
  for (;;) {
    HttpRequest request;
    ReadResult result = read_request(c, request);
    if (result == ReadResult::Closed) break;
    if (result == ReadResult::Malformed) {
      send_all(fd, serialize({400, "text/plain", "Bad Request\r\n", {}}, false));
      break;
    }
    if (result == ReadResult::TooLarge) {
      send_all(fd, serialize(too_large_response(), false));
      break;
    }
    Fault fault = fault_of(options, endpoint_of(request));
    HttpResponse response;
    if (fault != Fault::Hang && fault != Fault::Garbage && fault != Fault::BadHttp) {
      response = answer(request, options, store);
    }
    if (!send_reply(c, fault, response, request.keep_alive)) break;
  }
  close(fd);
}

}  // namespace ixc::standin
