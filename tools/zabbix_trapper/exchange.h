#pragma once
/// The steps of one connection, each taken when poll says the connection can move: the TLS
/// handshake, reading the request frame, recording it and settling its answer, writing that
/// answer (one byte per interval under the `slow` fault), and holding the connection open for
/// the faults that keep it. Each step returns as soon as it would wait; a connection that ends
/// is closed, its fd -1.
#include "zabbix_trapper/connection.h"
#include "zabbix_trapper/server.h"

namespace trapper {

/// Takes a connection just accepted as far as it goes at once: a client writes its request right
/// after connecting, so it is read without waiting for the next round of poll.
void start_exchange(Server& server, Connection& connection);

/// Goes on with the handshake; a failed one ends the connection with GnuTLS's alert for the
/// reason, as a server that refuses the key does, and the client gets no frame.
void handshake(Server& server, Connection& connection);

/// Reads until a whole frame, or bytes that are not the protocol, or the client's close, then
/// records what arrived. The answer waits until the record is flushed, so that a client that
/// has its reply can read the record at once.
void read_request(Server& server, Connection& connection);

void write_answer(const Server& server, Connection& connection, Clock::time_point now);

/// A held connection stays open until its client goes away.
void drain_held(Connection& connection);

}  // namespace trapper
