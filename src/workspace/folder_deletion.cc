#include "workspace/folder_deletion.h"

#include "platform/file_system.h"
#include "platform/log.h"
#include "workspace/path_macros.h"
#include "workspace/temp_workspace.h"

namespace {

// Logs each removal with the line of its kind.
void LogDeletion(const std::string& path, bool is_folder, bool deleted) {
  const char* format =
      is_folder
          ? (deleted ? "\n RemoveDirectory : [ %s ]" : "\n Failed to RemoveDirectory : [ %s ]")
          : (deleted ? "\n DeleteFile : [ %s ]" : "\n Failed to DeleteFile : [ %s ]");
  Log(format, path.c_str());
}

bool IsWorkspaceRoot(const std::string& folder) {
  return FileNamePart(folder) == kWorkspaceRootName;
}

}  // namespace

bool DeleteTree(const std::string& folder) {
  if (folder.empty()) return false;
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  FileSystem::Default().DeleteTree(path, LogDeletion);
  return true;
}

bool DeleteFolderOf(const std::string& path) {
  if (path.empty()) return false;
  // A root that is not a folder comes back from NewTempFolder as the "request folder"; read as
  // a file, its folder would be the system temp folder itself.
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  if (IsWorkspaceRoot(trimmed)) return false;
  std::string folder;
  FileSystem& file_system = FileSystem::Default();
  // A link to a folder is treated as a file, so its folder (not the target) goes.
  if (file_system.Status(path, FollowLinks::kNo).type == FileType::kFolder) {
    folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  } else {
    folder = FolderPart(RemoveFileUrl(path));
    // No folder part would mean the process's working folder: never empty that (nor "/").
    if (folder.size() <= 1) return false;
    folder.pop_back();
  }
  // A request folder that is already gone would otherwise lead here, to the shared root.
  if (IsWorkspaceRoot(folder)) return false;
  return file_system.DeleteFolderFiles(folder, LogDeletion);
}

void DeleteFoldersOf(std::vector<std::string> paths) {
  for (const std::string& path : paths) DeleteFolderOf(path);
}
