// The service's process entry: find the certificates (beside the executable, else in the user's
// own folder), serve until GET "/stop" (or SIGTERM, SIGINT), exit 0.
#include <memory>
#include <string>

#include "imaging/image_utils.h"
#include "platform/clipboard.h"
#include "platform/executable_path.h"
#include "platform/file_system.h"
#include "platform/log.h"
#include "platform/network.h"
#include "platform/process.h"
#include "platform/stop_signals.h"
#include "service/command_table.h"
#include "service/endpoint.h"
#include "service/origin_consent.h"

namespace {

// Where localhost.pem and localhost-key.pem are read: beside the executable when a certificate
// lies there (a build folder, a deployment that placed one), else {config}/orvohttps/, where the
// installed service makes one for its user at first start: an installed package keeps no key in
// its shared program folder, where other accounts could read it.
std::string CertificateFolder(const std::string& executable_folder) {
  FileSystem& fs = FileSystem::Default();
  if (fs.Status(executable_folder + "localhost.pem", FollowLinks::kYes).Exists()) {
    return executable_folder;
  }
  std::string config = fs.KnownFolderPath(KnownFolder::kConfig);
  if (config.empty()) return executable_folder;
  std::string folder = config + "/orvohttps/";
  // Started directly rather than by its unit, which makes the certificate before the start.
  std::string make_cert = executable_folder + "make-dev-cert";
  if (!fs.Status(folder + "localhost.pem", FollowLinks::kYes).Exists() &&
      fs.IsExecutableFile(make_cert)) {
    RunAndWaitFor({make_cert, folder}, std::chrono::seconds(60));
  }
  return folder;
}

}  // namespace

int main() {
  BlockStopSignals();
  IgnoreBrokenPipes();
  InstallServiceCommandTable();

  // Request threads convert images, so the library must be there; without it the service does
  // not start. It is loaded when a picture first needs it: its libraries took most of the start.
  if (!ImagingInstalled()) {
    Log("GDI+ 라이브러리를 초기화할 수 없습니다.\n");
    return 0;
  }

  // Asking the compositor can take a wait limit: once here, not in the first clipboard request.
  ChooseClipboardBackend();

  std::string folder = ExecutableFolder();
  if (folder.empty()) return 0;  // No path to look for the certificates under.
  std::string certificates = CertificateFolder(folder);
  std::unique_ptr<OriginConsent> consent = OriginConsent::ForService(folder + "allowed-origins");
  RunEndpoint(certificates + "localhost.pem", certificates + "localhost-key.pem", *consent);
  return 0;
}
