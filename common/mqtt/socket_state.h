#pragma once
// The two socket questions libmosquitto does not answer itself, on the
// socket it owns: is the TCP connection up, and tear it down now.

namespace QMQTT::detail {

// True when fd is a socket whose TCP connection is established (the
// handshake has completed and the peer has not reset it).
bool socketPeerConnected(int fd);

// True when bytes wait to be read on fd (checked without reading them).
bool socketHasInput(int fd);

// Shuts both directions of fd without closing the descriptor, which stays
// libmosquitto's to close: its next read then sees the end and cleans up.
void socketShutdown(int fd);

} // namespace QMQTT::detail
