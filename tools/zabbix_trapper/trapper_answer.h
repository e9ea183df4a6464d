#pragma once
/// What the trapper stand-in makes of the bytes of one connection: where the request frame
/// ends, and how to answer it, either as a Zabbix 6.0 trapper does or with the fault that a
/// test asked for.
///
///   none       success, "processed: N; failed: 0; total: N" for N values
///   silent     never answers and keeps the connection open
///   close      closes without answering
///   reset      resets the connection without answering
///   garbage    answers bytes that are not the protocol
///   slow       answers correctly, one byte at a time
///   keep       answers correctly and keeps the connection open until the client closes
///   failed     "failed", "cannot parse as a valid JSON object: ..."
///   unknown    success, "processed: 0; failed: N; total: N"
///   oversize   a header that announces a 3 GiB reply, then closes
///   truncated  the header and half of the reply, then closes
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace trapper {

enum class Fault {
  none,
  silent,
  close,
  reset,
  garbage,
  slow,
  keep,
  failed,
  unknown,
  oversize,
  truncated
};

std::optional<Fault> parse_fault(std::string_view name);

enum class FrameStatus { incomplete, complete, not_protocol };

/// Looks at the bytes received so far. On `complete`, `frame_size` is the size of the request
/// frame, header included. A missing "ZBXD", flags other than plain protocol, or a length over
/// 1 GiB is `not_protocol`: Zabbix closes such a connection without a word.
FrameStatus scan_frame(std::string_view received, std::size_t& frame_size);

/// The JSON body of a complete frame; discarded when it is not JSON.
nlohmann::ordered_json decode_body(std::string_view frame);

struct Answer {
  enum class Then { close, reset, hold };
  std::string bytes;  // written before `then`
  Then then = Then::close;
  bool slow = false;  // one byte per interval
};

Answer answer_for(const nlohmann::ordered_json& request, Fault fault);

}  // namespace trapper
