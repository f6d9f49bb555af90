#ifndef ORVO_PLATFORM_PEER_USER_H_
#define ORVO_PLATFORM_PEER_USER_H_

#include <cstdint>
#include <string>

// Who is at the other end of a TCP connection made on this machine: the user owning the peer's
// socket, read from the kernel's socket table. Lets the endpoint serve only its own user before
// a byte of TLS is exchanged. Thread-safe; keeps no state.

struct PeerUser {
  bool found = false;  // false: no socket of this machine is the peer, or the table is unreadable
  uint32_t uid = 0;
  std::string peer;    // the peer's address and port as text ("127.0.0.1:51234"), for log lines
};

// Where the socket table is read: the kernel's socket diagnostics (NETLINK_SOCK_DIAG), its text
// form /proc/net/tcp{,6}, or the first, else the second.
enum class SocketTable { kDiagnostics, kText, kAny };

// The owner of the socket at the other end of the connected TCP socket: the one whose local
// address and port are this socket's peer's, and whose peer is this socket's local address.
PeerUser FindPeerUser(int connected_socket, SocketTable table = SocketTable::kAny);

// Whether the peer of connected_socket is a socket of the process's own user. False when its
// owner cannot be found: a connection that cannot be placed is not served.
bool PeerIsProcessUser(int connected_socket, PeerUser* peer);

#endif  // ORVO_PLATFORM_PEER_USER_H_
