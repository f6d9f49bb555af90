// The service's process entry: find the certificates beside the executable, serve until
// GET "/stop", exit 0.
#include <signal.h>

#include <string>

#include "platform/executable_path.h"
#include "service/endpoint.h"

int main() {
  // A peer that closes its TLS connection early must not end the process with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);

  std::string folder = ExecutableFolder();
  if (folder.empty()) return 0;  // No path to look for the certificates under.
  RunEndpoint(folder + "localhost.pem", folder + "localhost-key.pem");
  return 0;
}
