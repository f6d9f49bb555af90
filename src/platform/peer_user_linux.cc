#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/peer_user.h"

namespace {

// Both ends of one connection: ours and the peer's, as the kernel reports them.
struct Ends {
  sockaddr_storage local{};
  sockaddr_storage peer{};
  int family = AF_UNSPEC;
};

bool ReadEnds(int socket, Ends& ends) {
  socklen_t length = sizeof ends.local;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&ends.local), &length) != 0) return false;
  length = sizeof ends.peer;
  if (::getpeername(socket, reinterpret_cast<sockaddr*>(&ends.peer), &length) != 0) return false;
  ends.family = ends.local.ss_family;
  return (ends.family == AF_INET || ends.family == AF_INET6) &&
         ends.peer.ss_family == ends.family;
}

// The address bytes and the port (network order) of an address of either family.
const void* AddressOf(const sockaddr_storage& address, size_t* size, uint16_t* port) {
  if (address.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(address);
    *size = sizeof in.sin_addr;
    *port = in.sin_port;
    return &in.sin_addr;
  }
  const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
  *size = sizeof in6.sin6_addr;
  *port = in6.sin6_port;
  return &in6.sin6_addr;
}

std::string Text(const sockaddr_storage& address) {
  size_t size = 0;
  uint16_t port = 0;
  const void* bytes = AddressOf(address, &size, &port);
  char text[INET6_ADDRSTRLEN] = "";
  ::inet_ntop(address.ss_family, bytes, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(port));
}

// One exact lookup in the kernel's TCP socket table: the socket whose local end is our peer and
// whose remote end is us.
bool AskSocketDiagnostics(const Ends& ends, uint32_t* uid) {
  int netlink = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (netlink < 0) return false;
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  message.request.sdiag_family = static_cast<uint8_t>(ends.family);
  message.request.sdiag_protocol = IPPROTO_TCP;
  message.request.idiag_states = ~0u;
  message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  size_t size = 0;
  const void* peer = AddressOf(ends.peer, &size, &message.request.id.idiag_sport);
  std::memcpy(message.request.id.idiag_src, peer, size);
  const void* local = AddressOf(ends.local, &size, &message.request.id.idiag_dport);
  std::memcpy(message.request.id.idiag_dst, local, size);
  bool found = false;
  if (::send(netlink, &message, sizeof message, 0) == static_cast<ssize_t>(sizeof message)) {
    alignas(nlmsghdr) char answer[8192];
    ssize_t got = ::recv(netlink, answer, sizeof answer, 0);
    auto* header = reinterpret_cast<nlmsghdr*>(answer);
    if (got > 0 && NLMSG_OK(header, static_cast<size_t>(got)) &&
        header->nlmsg_type == SOCK_DIAG_BY_FAMILY &&
        header->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
      *uid = static_cast<const inet_diag_msg*>(NLMSG_DATA(header))->idiag_uid;
      found = true;
    }
  }
  ::close(netlink);
  return found;
}

// An address as /proc/net/tcp{,6} writes it: each 32-bit word of the address in the machine's
// byte order as 8 hexadecimal digits, then ':' and the port as 4.
std::string TableAddress(const sockaddr_storage& address) {
  size_t size = 0;
  uint16_t port = 0;
  const auto* bytes = static_cast<const unsigned char*>(AddressOf(address, &size, &port));
  std::string text;
  char word[9];
  for (size_t at = 0; at < size; at += 4) {
    uint32_t value;
    std::memcpy(&value, bytes + at, 4);
    std::snprintf(word, sizeof word, "%08X", value);
    text += word;
  }
  char port_text[6];
  std::snprintf(port_text, sizeof port_text, ":%04X", ntohs(port));
  return text + port_text;
}

// The socket table as text, for kernels without socket diagnostics: the line whose local
// address is our peer and whose remote address is us; its eighth column is the owner.
bool ReadSocketTable(const Ends& ends, uint32_t* uid) {
  std::ifstream table(ends.family == AF_INET ? "/proc/net/tcp" : "/proc/net/tcp6");
  const std::string want_local = TableAddress(ends.peer);
  const std::string want_remote = TableAddress(ends.local);
  std::string line;
  std::getline(table, line);  // the column names
  while (std::getline(table, line)) {
    char local[64];
    char remote[64];
    unsigned long owner = 0;
    if (std::sscanf(line.c_str(), " %*s %63s %63s %*s %*s %*s %*s %lu", local, remote, &owner) !=
        3) {
      continue;
    }
    if (want_local == local && want_remote == remote) {
      *uid = static_cast<uint32_t>(owner);
      return true;
    }
  }
  return false;
}

}  // namespace

PeerUser FindPeerUser(int connected_socket, SocketTable table) {
  PeerUser user;
  Ends ends;
  if (!ReadEnds(connected_socket, ends)) return user;
  user.peer = Text(ends.peer);
  user.found = (table != SocketTable::kText && AskSocketDiagnostics(ends, &user.uid)) ||
               (table != SocketTable::kDiagnostics && ReadSocketTable(ends, &user.uid));
  return user;
}

bool PeerIsProcessUser(int connected_socket, PeerUser* peer) {
  *peer = FindPeerUser(connected_socket);
  return peer->found && peer->uid == ::geteuid();
}
