#include <netdb.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

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

void ShutDownConnection(int socket) { ::shutdown(socket, SHUT_RDWR); }
