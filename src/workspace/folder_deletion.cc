#include "workspace/folder_deletion.h"

#include "platform/file_system.h"
#include "platform/log.h"
#include "workspace/path_macros.h"
#include "workspace/temp_workspace.h"

namespace {

// Logs each removal with the line of its kind. The lines go to the log a batch at a time: a
// hand-off per line cost more than the removal itself.
class DeletionLog {
 public:
  DeletionLog() = default;
  ~DeletionLog() { Flush(); }
  DeletionLog(const DeletionLog&) = delete;
  DeletionLog& operator=(const DeletionLog&) = delete;

  void Note(const std::string& path, bool is_folder, bool deleted) {
    text_ += is_folder ? (deleted ? "\n RemoveDirectory : [ " : "\n Failed to RemoveDirectory : [ ")
                       : (deleted ? "\n DeleteFile : [ " : "\n Failed to DeleteFile : [ ");
    text_ += path;
    text_ += " ]";
    if (++lines_ == kBatchLines) Flush();
  }

  DeletionObserver Observer() {
    return [this](const std::string& path, bool is_folder, bool deleted) {
      Note(path, is_folder, deleted);
    };
  }

 private:
  static constexpr size_t kBatchLines = 256;

  void Flush() {
    LogLines(std::move(text_), lines_);
    text_.clear();
    lines_ = 0;
  }

  std::string text_;
  size_t lines_ = 0;
};

bool IsWorkspaceRoot(const std::string& folder) {
  return FileNamePart(folder) == kWorkspaceRootName;
}

}  // namespace

bool DeleteTree(const std::string& folder) {
  if (folder.empty()) return false;
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  DeletionLog log;
  FileSystem::Default().DeleteTree(path, log.Observer());
  return true;
}

bool DeleteFolderOf(const std::string& path) {
  if (path.empty()) return false;
  // A root named as if it were a file: its folder would be the temp folder itself.
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
  DeletionLog log;
  return file_system.DeleteFolderFiles(folder, log.Observer()).ok();
}

void DeleteFoldersOf(std::vector<std::string> paths) {
  for (const std::string& path : paths) DeleteFolderOf(path);
}
