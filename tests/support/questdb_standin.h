#pragma once
/// Runs the QuestDB stand-in (tools/questdb_standin) as a child process on a loopback address
/// for the length of a test, and talks to it over HTTP as the collector does: /exec with the
/// statement URL-encoded, /write with line-protocol text, both with Basic authentication.
/// The constructor returns once every port listens (port 0 takes a free one, reported back in
/// `ports`); the destructor stops the process by its PID.
#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace ixc::test {

struct HttpCall {
  std::string method = "GET";
  std::string url;
  std::string body;  // sent when method is POST
  bool authenticate = true;
  std::string user = "kestrel";
  std::string password = "observarQZ";
  long timeout_ms = 10000;
};

struct HttpReply {
  long status = 0;      // 0 when the request failed
  std::string headers;  // the header block of the final response
  std::string body;
  std::string error;  // the HTTP client's text when the request failed

  /// The value of the first header of that name (any case), empty when absent.
  std::string header(std::string_view name) const;
};

HttpReply http_call(const HttpCall& call);

struct QuestDbStandinOptions {
  std::string address = "127.0.0.1";
  std::vector<int> ports = {9000};
  std::vector<std::string> extra_arguments;  // for example {"--exec-fault", "hang"}
};

struct QuestDbStandin {
  explicit QuestDbStandin(QuestDbStandinOptions options = {});
  ~QuestDbStandin();
  QuestDbStandin(const QuestDbStandin&) = delete;
  QuestDbStandin& operator=(const QuestDbStandin&) = delete;

  /// "http://address:port" + path; port defaults to the first one.
  std::string url(std::string_view path, int port = 0) const;
  /// The decoded /exec reply, whatever its status; throws when the body is not JSON.
  nlohmann::json query(const std::string& sql) const;
  HttpReply exec(const std::string& sql, long timeout_ms = 10000) const;
  /// POST /write?precision=n to the given port (the first one by default).
  HttpReply write(const std::string& lines, int port = 0) const;
  /// SIGTERM, then SIGKILL if it has not ended within two seconds. Safe to call twice.
  void stop();

  std::string address;
  std::vector<int> ports;
  pid_t pid = -1;
};

/// The stand-in's executable in the build's bin/ folder.
std::string questdb_standin_path();

}  // namespace ixc::test
