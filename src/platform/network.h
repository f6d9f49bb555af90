#ifndef ORVO_PLATFORM_NETWORK_H_
#define ORVO_PLATFORM_NETWORK_H_

#include <chrono>
#include <string>

// The few socket settings and waits the HTTPS endpoint makes itself; the HTTP library does the
// rest.

// The first address of host whose address family this machine can open a socket for, as
// numeric text ("127.0.0.1", "::1"); host itself when it cannot be resolved. Listening on
// exactly one address keeps a second instance from binding the other family's loopback address
// while the first instance holds this one.
std::string FirstUsableAddress(const std::string& host);

// Sets SO_REUSEADDR, and only that, on the socket: no port sharing, so a second instance cannot
// bind the same port and take half of the connections.
void SetAddressReuseOnly(int socket);

// A peer that closes its connection early must not end the process with SIGPIPE. Call once at
// start-up.
void IgnoreBrokenPipes();

// Bounds every blocking read and write on a connected socket (the TLS handshake included), so
// that a peer that stops sending or reading cannot hold a thread for longer.
void SetConnectionTimeouts(int socket, std::chrono::seconds limit);

// Waits until the connected socket has data to read or has been closed by the peer (true), at
// most limit (false, also on error).
bool WaitForReadable(int socket, std::chrono::milliseconds limit);

// The numeric address and port of this end (kLocal) or the other end (kPeer) of a connected
// socket; false, with ip empty and port -1, when the socket has none.
enum class ConnectionEnd { kLocal, kPeer };
bool ConnectionAddress(int socket, ConnectionEnd end, std::string& ip, int& port);

// Shuts both directions of a connected socket down and closes it.
void CloseConnection(int socket);

#endif  // ORVO_PLATFORM_NETWORK_H_
