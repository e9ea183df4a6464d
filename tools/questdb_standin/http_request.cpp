#include "questdb_standin/http_request.h"

namespace ixc::standin {

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> base64_decode(std::string_view text) {
  static const std::string_view alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (char c : text) {
    if (c == '=') break;
    size_t value = alphabet.find(c);
    if (value == std::string_view::npos) return std::nullopt;
    buffer = (buffer << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((buffer >> bits) & 0xff));
    }
  }
  return out;
}

const char* reason(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 301:
      return "Moved Permanently";
    case 404:
      return "Not Found";
    case 413:
      return "Payload Too Large";
    case 500:
      return "Internal Server Error";
    default:
      return "Unknown";
  }
}

}  // namespace

std::optional<std::string_view> find_header(const HttpRequest& request, std::string_view name) {
  for (const auto& [key, value] : request.headers) {
    if (key == name) return value;
  }
  return std::nullopt;
}

std::string percent_decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out.push_back(' ');
    } else if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
               hex_value(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::optional<std::string> query_parameter(std::string_view query_string, std::string_view name) {
  while (!query_string.empty()) {
    size_t amp = query_string.find('&');
    std::string_view pair = query_string.substr(0, amp);
    query_string = amp == std::string_view::npos ? "" : query_string.substr(amp + 1);
    size_t eq = pair.find('=');
    if (percent_decode(pair.substr(0, eq)) != name) continue;
    return eq == std::string_view::npos ? "" : percent_decode(pair.substr(eq + 1));
  }
  return std::nullopt;
}

bool basic_credentials_match(std::optional<std::string_view> authorization, std::string_view user,
                             std::string_view password) {
  if (!authorization) return false;
  std::string_view value = *authorization;
  if (value.size() < 6 || value.substr(0, 6) != "Basic ") return false;
  value.remove_prefix(6);
  while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  auto decoded = base64_decode(value);
  return decoded && *decoded == std::string(user) + ":" + std::string(password);
}

std::string serialize(const HttpResponse& response, bool keep_alive) {
  std::string out = "HTTP/1.1 " + std::to_string(response.status) + " " + reason(response.status) +
                    "\r\nServer: questDB/standin\r\n";
  if (!response.content_type.empty()) out += "Content-Type: " + response.content_type + "\r\n";
  for (const auto& [name, value] : response.headers) out += name + ": " + value + "\r\n";
  if (response.status != 204)
    out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  if (!keep_alive) out += "Connection: close\r\n";
  out += "\r\n";
  out += response.body;
  return out;
}

}  // namespace ixc::standin
