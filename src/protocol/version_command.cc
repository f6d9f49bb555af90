#include "protocol/version_command.h"

#include "platform/executable_path.h"
#include "platform/file_version.h"
#include "protocol/command_request.h"
#include "protocol/command_table.h"
#include "text/text_conversion.h"
#include "workspace/path_macros.h"

std::string RunVersionCommand(CommandRequest& request) {
  return request.BuildResponse({}, {}, Json::Value(), std::string());
}

Json::Value BuildVersionPdu(const PayloadInputs& inputs) {
  std::string executable = ExecutablePath();
  // With no folder separator the companion path is a lone separator and the name, which
  // names no readable file: the daemon version is then "0.0.0.0".
  std::string companion = FolderPart(executable);
  if (companion.empty()) companion = "/";
  companion += kCompanionFileName;
  Json::Value pdu(Json::objectValue);
  pdu["version"] = WideToUtf8(FileVersionOf(executable));
  pdu["version_daemon"] = WideToUtf8(FileVersionOf(companion));
  return pdu;
}
