#include "workspace/request_folder.h"

#include "text/text_conversion.h"
#include "workspace/path_macros.h"
#include "workspace/temp_workspace.h"

std::string NewRequestFolderFromTempPath(const std::string& temp_path) {
  std::string folder = NewTempFolderUnder(ExpandPathMacros(Utf8ToWide(temp_path)));
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  return folder + "/";
}
