#include "workspace/folder_deletion.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/log.h"
#include "workspace/path_macros.h"
#include "workspace/temp_workspace.h"

namespace {

void LogFileDeletion(bool deleted, const std::string& path) {
  if (deleted) {
    Log("\n DeleteFile : [ %s ]", path.c_str());
  } else {
    Log("\n Failed to DeleteFile : [ %s ]", path.c_str());
  }
}

void LogFolderRemoval(bool removed, const std::string& path) {
  if (removed) {
    Log("\n RemoveDirectory : [ %s ]", path.c_str());
  } else {
    Log("\n Failed to RemoveDirectory : [ %s ]", path.c_str());
  }
}

bool IsDotEntry(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

// Opens a folder for listing without following a link in its last component, so that a link
// swapped in for a folder is never entered.
DIR* OpenFolderNoFollow(int parent_fd, const char* name) {
  int fd = ::openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) ::close(fd);
  return dir;
}

// Everything below the open folder dir (named path), depth first, then the folder itself
// through its parent_fd.
void DeleteTreeAt(int parent_fd, const char* name, const std::string& path) {
  if (DIR* dir = OpenFolderNoFollow(parent_fd, name)) {
    int fd = ::dirfd(dir);
    while (struct dirent* entry = ::readdir(dir)) {
      if (IsDotEntry(entry->d_name)) continue;
      std::string full = path + "/" + entry->d_name;
      struct stat info;
      bool is_folder = ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISDIR(info.st_mode);
      if (is_folder) {
        DeleteTreeAt(fd, entry->d_name, full);
      } else {
        LogFileDeletion(::unlinkat(fd, entry->d_name, 0) == 0, full);
      }
    }
    ::closedir(dir);
  }
  LogFolderRemoval(::unlinkat(parent_fd, name, AT_REMOVEDIR) == 0, path);
}

bool IsWorkspaceRoot(const std::string& folder) {
  return FileNamePart(folder) == kWorkspaceRootName;
}

}  // namespace

bool DeleteTree(const std::string& folder) {
  if (folder.empty()) return false;
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  DeleteTreeAt(AT_FDCWD, path.c_str(), path);
  return true;
}

bool DeleteFolderOf(const std::string& path) {
  if (path.empty()) return false;
  std::string folder;
  struct stat info;
  // lstat: a link to a folder is treated as a file, so its folder (not the target) goes.
  if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  } else {
    std::string local = RemoveFileUrl(path);
    size_t slash = local.rfind('/');
    // No folder part would mean the process's working folder: never empty that.
    if (slash == std::string::npos || slash == 0) return false;
    folder = local.substr(0, slash);
  }
  // A request folder that is already gone would otherwise lead here, to the shared root.
  if (IsWorkspaceRoot(folder)) return false;
  DIR* dir = OpenFolderNoFollow(AT_FDCWD, folder.c_str());
  if (dir == nullptr) return false;
  int fd = ::dirfd(dir);
  while (struct dirent* entry = ::readdir(dir)) {
    if (IsDotEntry(entry->d_name)) continue;
    LogFileDeletion(::unlinkat(fd, entry->d_name, 0) == 0, folder + "/" + entry->d_name);
  }
  ::closedir(dir);
  bool removed = ::rmdir(folder.c_str()) == 0;
  LogFolderRemoval(removed, folder);
  return removed;
}

void DeleteFoldersOf(std::vector<std::string> paths) {
  for (const std::string& path : paths) DeleteFolderOf(path);
}
