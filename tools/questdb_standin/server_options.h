#pragma once
/// The stand-in's command line:
///   questdb-standin --address 127.x.y.z [--port N]... [--user U --password P]
///                   [--exec-fault MODE] [--write-fault MODE] [--server-version 8|9]
/// Every port serves both /exec and /write (port 0 takes a free one). Without --port it is 9000;
/// without --user and --password the collector's fixed pair. MODE is one of hang, drop,
/// garbage, badhttp, slow, reject. --server-version picks whose answers it gives where QuestDB
/// 8.0.3 and 9.2.3 differ (8 without it). Only loopback addresses are accepted, so that no test
/// ever opens a port beyond the machine.
#include <stdexcept>
#include <string>
#include <vector>

namespace ixc::standin {

/// What an endpoint does instead of answering normally.
enum class Fault {
  None,
  Hang,     // read the request, never answer, keep the connection open
  Drop,     // send the first half of the reply, then close
  Garbage,  // 200 with an HTML body that is not JSON
  BadHttp,  // bytes that are not HTTP, then close
  Slow,     // the right reply, one byte every 100 ms
  Reject,   // 400 with a JSON error for every authorised request; nothing is stored
};

/// The QuestDB release line whose answers the stand-in gives where they differ: refusals of an
/// integer into the designated column and their texts, column listings, 401 and unknown paths.
enum class ServerVersion { V8, V9 };

struct ServerOptions {
  std::string address;
  std::vector<int> ports;
  std::string user = "kestrel";
  std::string password = "observarQZ";
  Fault exec_fault = Fault::None;
  Fault write_fault = Fault::None;
  ServerVersion version = ServerVersion::V8;
};

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

ServerOptions parse_options(const std::vector<std::string>& arguments);

extern const char kUsage[];

}  // namespace ixc::standin
