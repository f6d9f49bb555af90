#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/network.h"

std::string FirstUsableAddress(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* results = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &results) != 0) return host;
  std::string chosen = host;
  for (addrinfo* ai = results; ai != nullptr; ai = ai->ai_next) {
    int probe = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
    if (probe < 0) continue;
    close(probe);
    char numeric[NI_MAXHOST];
    if (getnameinfo(ai->ai_addr, ai->ai_addrlen, numeric, sizeof numeric, nullptr, 0,
                    NI_NUMERICHOST) == 0) {
      chosen = numeric;
      break;
    }
  }
  freeaddrinfo(results);
  return chosen;
}

void SetAddressReuseOnly(int socket) {
  int yes = 1;
  setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

void IgnoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

void SetConnectionTimeouts(int socket, std::chrono::seconds limit) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(limit.count());
  setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool WaitForReadable(int socket, std::chrono::milliseconds limit) {
  pollfd entry{socket, POLLIN, 0};
  int result;
  do {
    result = poll(&entry, 1, static_cast<int>(limit.count()));
  } while (result < 0 && errno == EINTR);
  return result > 0;
}

bool ConnectionAddress(int socket, ConnectionEnd end, std::string& ip, int& port) {
  ip.clear();
  port = -1;
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  auto* generic = reinterpret_cast<sockaddr*>(&address);
  int result = end == ConnectionEnd::kLocal ? getsockname(socket, generic, &length)
                                            : getpeername(socket, generic, &length);
  char host[NI_MAXHOST];
  char service[NI_MAXSERV];
  if (result != 0 || getnameinfo(generic, length, host, sizeof host, service, sizeof service,
                                 NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return false;
  }
  ip = host;
  port = std::atoi(service);
  return true;
}

void CloseConnection(int socket) {
  shutdown(socket, SHUT_RDWR);
  close(socket);
}
