#include "workspace/request_folder.h"

#include "platform/file_system.h"
#include "platform/log.h"
#include "text/text_conversion.h"
#include "workspace/path_macros.h"
#include "workspace/temp_workspace.h"

std::string TempPathBase(const std::string& temp_path) {
  return ExpandPathMacros(Utf8ToWide(temp_path));
}

std::unique_ptr<HeldFolder> OpenRequestFolder(const std::string& temp_path) {
  std::unique_ptr<HeldFolder> folder;
  IoStatus made = NewTempFolderUnder(TempPathBase(temp_path), folder);
  if (!made.ok()) {
    Log("\n Failed to make a request folder : [ %s ]", made.ToString().c_str());
    folder.reset();
  }
  return folder;
}
