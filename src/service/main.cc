// The service's process entry: find the certificates beside the executable, serve until
// GET "/stop" (or SIGTERM, SIGINT), exit 0.
#include <memory>
#include <string>

#include "imaging/image_utils.h"
#include "platform/executable_path.h"
#include "platform/log.h"
#include "platform/network.h"
#include "platform/stop_signals.h"
#include "service/command_table.h"
#include "service/endpoint.h"
#include "service/origin_consent.h"

int main() {
  BlockStopSignals();
  IgnoreBrokenPipes();
  InstallServiceCommandTable();

  // Request threads convert images, so the library must be up before the first request; without
  // it the service does not start.
  if (!InitializeImaging()) {
    Log("GDI+ 라이브러리를 초기화할 수 없습니다.\n");
    return 0;
  }

  std::string folder = ExecutableFolder();
  if (folder.empty()) return 0;  // No path to look for the certificates under.
  std::unique_ptr<OriginConsent> consent = OriginConsent::ForService(folder + "allowed-origins");
  RunEndpoint(folder + "localhost.pem", folder + "localhost-key.pem", *consent);
  return 0;
}
