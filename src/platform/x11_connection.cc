// Connecting to an X server within a time limit. The socket is connected here, and xcb's
// handshake, which waits for the server's setup reply without one, is cut off when the limit
// passes.

#include "platform/x11_connection.h"

#include <X11/Xauth.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/environment.h"

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::max<decltype(left)>(left, 0));
}

// A non-blocking stream socket connected to address before the deadline, or -1.
int ConnectBefore(const sockaddr* address, socklen_t length, Clock::time_point deadline) {
  const int fd = socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, address, length) == 0) return fd;
  if (errno == EINPROGRESS) {
    pollfd watched{fd, POLLOUT, 0};
    int error = 0;
    socklen_t size = sizeof error;
    if (poll(&watched, 1, MillisecondsLeft(deadline)) == 1 &&
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) {
      return fd;
    }
  }
  close(fd);
  return -1;
}

// The local server's socket, where xcb looks for it: the abstract name first, then the file.
int ConnectUnix(int display, Clock::time_point deadline) {
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(display);
  for (const size_t lead : {1, 0}) {  // an abstract name starts with a 0 byte
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (lead + path.size() >= sizeof address.sun_path) return -1;
    memcpy(address.sun_path + lead, path.data(), path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + lead +
                                               path.size() + (lead == 0 ? 1 : 0));
    const int fd = ConnectBefore(reinterpret_cast<sockaddr*>(&address), length, deadline);
    if (fd >= 0) return fd;
  }
  return -1;
}

// A server over TCP: port 6000 + display on host (an IPv6 literal may come in brackets).
int ConnectTcp(std::string host, int display, Clock::time_point deadline) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (display < 0 || display > 65535 - 6000) return -1;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(6000 + display).c_str(), &hints, &found) != 0) {
    return -1;
  }
  int fd = -1;
  for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = ConnectBefore(a->ai_addr, a->ai_addrlen, deadline);
  }
  freeaddrinfo(found);
  const int on = 1;
  if (fd >= 0) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

bool IsLoopback(const sockaddr_storage& peer) {
  if (peer.ss_family == AF_INET) {
    return reinterpret_cast<const sockaddr_in&>(peer).sin_addr.s_addr == htonl(INADDR_LOOPBACK);
  }
  const in6_addr& address = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
  in_addr mapped;
  memcpy(&mapped, address.s6_addr + 12, sizeof mapped);
  return IN6_IS_ADDR_LOOPBACK(&address) ||
         (IN6_IS_ADDR_V4MAPPED(&address) && mapped.s_addr == htonl(INADDR_LOOPBACK));
}

// The MIT-MAGIC-COOKIE-1 entry of the user's X authority file for the server on fd, looked up
// as xcb looks it up: a unix socket or the loopback address by this machine's host name, any
// other server by its address.
bool FindCookie(int fd, int display, std::string* name, std::string* cookie) {
  sockaddr_storage peer{};
  socklen_t size = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0) peer.ss_family = AF_UNIX;
  uint16_t family = FamilyLocal;
  std::string address;
  if (peer.ss_family == AF_INET && !IsLoopback(peer)) {
    family = XCB_FAMILY_INTERNET;
    const in_addr& v4 = reinterpret_cast<const sockaddr_in&>(peer).sin_addr;
    address.assign(reinterpret_cast<const char*>(&v4), sizeof v4);
  } else if (peer.ss_family == AF_INET6 && !IsLoopback(peer)) {
    const in6_addr& v6 = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
    const bool mapped = IN6_IS_ADDR_V4MAPPED(&v6);
    family = mapped ? XCB_FAMILY_INTERNET : XCB_FAMILY_INTERNET_6;
    address.assign(reinterpret_cast<const char*>(v6.s6_addr) + (mapped ? 12 : 0), mapped ? 4 : 16);
  } else if (peer.ss_family != AF_UNIX && peer.ss_family != AF_INET && peer.ss_family != AF_INET6) {
    return false;
  }
  if (family == FamilyLocal) {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return false;
    address = host;
  }
  const std::string number = std::to_string(display);
  char kind[] = "MIT-MAGIC-COOKIE-1";
  char* kinds[] = {kind};
  int kind_lengths[] = {static_cast<int>(sizeof kind - 1)};
  // libXau keeps the authority file's name in a static buffer it frees and refills on every
  // lookup, so two lookups at once race on it and can lose a buffer; one at a time.
  static std::mutex lookup;
  const std::lock_guard<std::mutex> held(lookup);
  Xauth* entry = XauGetBestAuthByAddr(family, static_cast<unsigned short>(address.size()),
                                      address.data(), static_cast<unsigned short>(number.size()),
                                      number.data(), 1, kinds, kind_lengths);
  if (entry == nullptr) return false;
  name->assign(entry->name, entry->name_length);
  cookie->assign(entry->data, entry->data_length);
  XauDisposeAuth(entry);
  return true;
}

// xcb_connect_to_fd sends the setup request, then waits for the whole reply without a limit.
// It runs on a thread of its own; when the deadline comes first, shutting the socket down ends
// that wait with a connection error. A second descriptor keeps the socket open until then,
// since xcb closes its own when the handshake fails. Takes fd in every case.
xcb_connection_t* HandshakeBefore(int fd, int display, Clock::time_point deadline) {
  std::string name, cookie;
  xcb_auth_info_t auth{};
  const bool authorised = FindCookie(fd, display, &name, &cookie);
  auth.namelen = static_cast<int>(name.size());
  auth.name = name.data();
  auth.datalen = static_cast<int>(cookie.size());
  auth.data = cookie.data();
  const int spare = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (spare < 0) {
    close(fd);
    return nullptr;
  }
  std::promise<xcb_connection_t*> made;
  std::future<xcb_connection_t*> connection = made.get_future();
  std::thread handshake(
      [&] { made.set_value(xcb_connect_to_fd(fd, authorised ? &auth : nullptr)); });
  if (connection.wait_until(deadline) != std::future_status::ready) shutdown(spare, SHUT_RDWR);
  handshake.join();
  close(spare);
  return connection.get();
}

// Connects to the display xcb's own parsing finds in name, within the wait limit; null (or a
// connection in error) when there is none.
xcb_connection_t* ConnectDisplay(const char* name, int* screen, Clock::time_point deadline) {
  char* host = nullptr;
  int display = 0;
  if (xcb_parse_display(name, &host, &display, screen) == 0) return nullptr;
  const std::string server = host;
  free(host);
  const int fd = server.empty() || server == "unix" ? ConnectUnix(display, deadline)
                                                    : ConnectTcp(server, display, deadline);
  if (fd < 0) return nullptr;
  return HandshakeBefore(fd, display, deadline);
}

}  // namespace

XConnection::XConnection(std::chrono::milliseconds wait_limit) {
  const std::optional<std::string> display = EnvironmentVariable("DISPLAY");
  if (!display || display->empty()) return;
  int screen_number = 0;
  connection_ = ConnectDisplay(display->c_str(), &screen_number, Clock::now() + wait_limit);
  if (connection_ == nullptr || xcb_connection_has_error(connection_)) return;
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
  for (int i = 0; it.rem > 0 && i < screen_number; ++i) xcb_screen_next(&it);
  if (it.rem > 0) screen_ = it.data;
}

bool XConnection::WaitUntil(XDeadline deadline, const std::function<bool()>& ready) {
  const int fd = xcb_get_file_descriptor(connection_);
  for (;;) {
    if (ready()) return true;
    if (xcb_connection_has_error(connection_)) return false;
    const int left = MillisecondsLeft(deadline);
    if (left <= 0) return false;
    pollfd watched{fd, POLLIN, 0};
    poll(&watched, 1, left);
  }
}

void* XConnection::WaitForReply(unsigned int sequence, XDeadline deadline) {
  if (connection_ == nullptr) return nullptr;
  xcb_flush(connection_);
  void* reply = nullptr;
  xcb_generic_error_t* error = nullptr;
  // xcb_poll_for_reply reads what the socket holds, so the loop sleeps only when it is empty.
  const bool answered = WaitUntil(
      deadline, [&] { return xcb_poll_for_reply(connection_, sequence, &reply, &error) != 0; });
  std::free(error);
  if (!answered) xcb_discard_reply(connection_, sequence);
  return answered ? reply : nullptr;
}

XEvent XConnection::WaitForEvent(XDeadline deadline,
                                 const std::function<bool(const void* event)>& accept) {
  if (connection_ == nullptr) return nullptr;
  xcb_flush(connection_);
  XEvent accepted;
  WaitUntil(deadline, [&] {
    // Drain what xcb has already read before sleeping on the socket.
    while (XEvent event{xcb_poll_for_event(connection_)}) {
      if (accept(event.get())) {
        accepted = std::move(event);
        return true;
      }
    }
    return false;
  });
  return accepted;
}

XConnection::~XConnection() {
  if (connection_ != nullptr) xcb_disconnect(connection_);
}

bool XConnection::ok() const {
  return connection_ != nullptr && screen_ != nullptr && !xcb_connection_has_error(connection_);
}
