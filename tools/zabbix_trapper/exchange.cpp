#include "zabbix_trapper/exchange.h"

#include <string>
#include <string_view>
#include <utility>

#include "zabbix_trapper/request_record.h"

namespace trapper {
namespace {

const nlohmann::ordered_json kNotJson =
    nlohmann::ordered_json(nlohmann::ordered_json::value_t::discarded);

// Records what arrived and settles how the connection is answered.
void settle(Server& server, Connection& connection, std::string_view raw,
            const nlohmann::ordered_json& request, Answer answer) {
  if (server.record) {
    std::string line = record_line(raw, request);
    std::fwrite(line.data(), 1, line.size(), server.record);
    server.unflushed = true;
  }
  connection.answer = std::move(answer);
  connection.phase = Connection::Phase::answering;
}

}  // namespace

void start_exchange(Server& server, Connection& connection) {
  if (!server.psk.credentials) {
    read_request(server, connection);
    return;
  }
  connection.tls = start_psk_session(server.psk, connection.fd);
  connection.phase = Connection::Phase::handshaking;
  handshake(server, connection);
}

void handshake(Server& server, Connection& connection) {
  int rc = gnutls_handshake(connection.tls);
  if (rc == GNUTLS_E_SUCCESS) {
    connection.phase = Connection::Phase::reading;
    read_request(server, connection);
  } else if (gnutls_error_is_fatal(rc)) {
    gnutls_alert_send_appropriate(connection.tls, rc);
    gnutls_deinit(connection.tls);
    connection.tls = nullptr;
    close_connection(connection, false);
  }
}

void read_request(Server& server, Connection& connection) {
  char buffer[65536];
  for (;;) {
    ssize_t received = receive_some(connection, buffer, sizeof buffer);
    if (received < 0) return;
    if (received == 0) {  // closed or reset before a whole frame came
      if (connection.received.empty()) {
        close_connection(connection, false);
      } else {
        settle(server, connection, connection.received, kNotJson, {});
      }
      return;
    }
    connection.received.append(buffer, static_cast<std::size_t>(received));
    std::size_t frame_size = 0;
    auto status = scan_frame(connection.received, frame_size);
    if (status == FrameStatus::not_protocol) {
      settle(server, connection, connection.received, kNotJson, {});
      return;
    }
    if (status == FrameStatus::complete) {
      std::string_view frame = std::string_view(connection.received).substr(0, frame_size);
      nlohmann::ordered_json request = decode_body(frame);
      settle(server, connection, frame, request, answer_for(request, server.options.fault));
      return;
    }
  }
}

void write_answer(const Server& server, Connection& connection, Clock::time_point now) {
  const std::string& bytes = connection.answer.bytes;
  while (connection.written < bytes.size()) {
    std::size_t chunk = bytes.size() - connection.written;
    if (connection.answer.slow) {
      if (now < connection.next_byte) return;
      chunk = 1;
    }
    ssize_t sent = send_some(connection, bytes.data() + connection.written, chunk);
    if (sent <= 0) {
      if (sent < 0) close_connection(connection, false);
      return;
    }
    connection.written += static_cast<std::size_t>(sent);
    if (connection.answer.slow) {
      connection.next_byte = now + server.options.slow_interval;
      if (connection.written < bytes.size()) return;
    }
  }
  switch (connection.answer.then) {
    case Answer::Then::close:
      close_connection(connection, false);
      break;
    case Answer::Then::reset:
      close_connection(connection, true);
      break;
    case Answer::Then::hold:
      connection.phase = Connection::Phase::holding;
      break;
  }
}

void drain_held(Connection& connection) {
  char buffer[4096];
  if (receive_some(connection, buffer, sizeof buffer) == 0) close_connection(connection, false);
}

}  // namespace trapper
