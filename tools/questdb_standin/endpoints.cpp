#include "questdb_standin/endpoints.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>

#include "questdb_standin/exec_reply.h"
#include "questdb_standin/json_text.h"
#include "questdb_standin/line_ingest.h"

namespace ixc::standin {

namespace {

const char kJson[] = "application/json; charset=utf-8";

HttpResponse unauthorized(ServerVersion version) {
  return {401,
          version == ServerVersion::V8 ? "text/plain" : "text/plain; charset=utf-8",
          "Unauthorized\r\n",
          {{"WWW-Authenticate", "Basic realm=\"questdb\", charset=\"UTF-8\""}}};
}

HttpResponse not_found() { return {404, "text/plain", "Not Found\r\n", {}}; }

// QuestDB's error ids read "<server id>-<counter>"; the server id here is made from the PID.
std::string next_error_id() {
  static std::atomic<long> counter{0};
  char id[40];
  std::snprintf(id, sizeof id, "%012lx-%ld", 0x5e7a0000L + static_cast<long>(getpid()), ++counter);
  return id;
}

HttpResponse write_error(const std::string& message, int line, int status = 400,
                         const char* code = "invalid") {
  std::string body = "{\"code\":\"" + std::string(code) + "\",\"message\":";
  append_questdb_json_string(body, message);
  body += ",\"line\":" + std::to_string(line) + ",\"errorId\":\"" + next_error_id() + "\"}";
  return {status, kJson, body, {}};
}

std::int64_t now_micros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::optional<std::int64_t> nanos_per_unit(const std::string& precision) {
  if (precision.empty() || precision == "n" || precision == "ns") return 1;
  if (precision == "u" || precision == "us") return 1000;
  if (precision == "ms") return 1000000;
  if (precision == "s") return 1000000000;
  return std::nullopt;
}

HttpResponse exec(const HttpRequest& request, const ServerOptions& options, TableStore& store) {
  std::string query = query_parameter(request.query_string, "query").value_or("");
  if (options.exec_fault == Fault::Reject) {
    return {400, kJson, exec_error_object(query, "rejected by --exec-fault reject", 0), {}};
  }
  std::lock_guard lock(store.mutex);
  ExecReply reply = run_exec(store, query, options.version);
  return {reply.status, kJson, std::move(reply.body), {}};
}

HttpResponse write(const HttpRequest& request, const ServerOptions& options, TableStore& store) {
  const std::string prefix = "failed to parse line protocol:errors encountered on line(s):";
  if (options.write_fault == Fault::Reject) {
    return write_error(prefix + "\nerror in line 1: rejected by --write-fault reject", 1);
  }
  auto unit = nanos_per_unit(query_parameter(request.query_string, "precision").value_or(""));
  if (!unit) return write_error("unsupported precision", 0);
  try {
    std::lock_guard lock(store.mutex);
    ingest_lines(store, request.body, *unit, now_micros(), options.version);
  } catch (const LineProtocolError& error) {
    return write_error(
        prefix + "\nerror in line " + std::to_string(error.line) + ": " + error.what(), error.line);
  } catch (const RowWriteError& error) {
    // The server's text here has no line break and names the table, not the line.
    return write_error(prefix + "write error: " + error.table + ", " + error.what(), error.line,
                       500, "internal error");
  }
  return {204, "", "", {}};
}

}  // namespace

Endpoint endpoint_of(const HttpRequest& request) {
  if (request.path == "/exec") return Endpoint::Exec;
  if (request.path == "/write") return Endpoint::Write;
  return Endpoint::Other;
}

Fault fault_of(const ServerOptions& options, Endpoint endpoint) {
  if (endpoint == Endpoint::Exec) return options.exec_fault;
  if (endpoint == Endpoint::Write) return options.write_fault;
  return Fault::None;
}

HttpResponse answer(const HttpRequest& request, const ServerOptions& options, TableStore& store) {
  // 9.x serves its web console at the root, without asking for credentials.
  if (options.version == ServerVersion::V9 && request.path == "/") {
    return {301, "text/plain", "", {{"Location", "/index.html"}}};
  }
  if (!basic_credentials_match(find_header(request, "authorization"), options.user,
                               options.password)) {
    return unauthorized(options.version);
  }
  Endpoint endpoint = endpoint_of(request);
  if (endpoint == Endpoint::Exec && request.method == "GET") return exec(request, options, store);
  if (endpoint == Endpoint::Write && request.method == "POST")
    return write(request, options, store);
  return not_found();
}

HttpResponse too_large_response() {
  return {413, "text/plain", "Request Entity Too Large\r\n", {}};
}

}  // namespace ixc::standin
