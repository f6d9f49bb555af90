#ifndef ORVO_WORKSPACE_FOLDER_DELETION_H_
#define ORVO_WORKSPACE_FOLDER_DELETION_H_

#include <string>
#include <vector>

// Removal of request folders, with one log line per file and folder:
//   "\n DeleteFile : [ %s ]"        "\n Failed to DeleteFile : [ %s ]"
//   "\n RemoveDirectory : [ %s ]"   "\n Failed to RemoveDirectory : [ %s ]"
// Symbolic links are removed as links and never followed: nothing outside the folder being
// deleted is touched. Thread-safe.

// Deletes everything below folder and then folder itself. Returns false only for an empty
// path; true once it has run, whatever it could delete. A folder that does not exist (or is a
// link) gives only the failed RemoveDirectory line.
bool DeleteTree(const std::string& folder);

// Deletes the files directly inside a folder, then the folder: path names the folder itself
// or a file in it (every "file:///" in it is read as "/"). Sub-folders are not descended into:
// each gives a failed DeleteFile line and keeps the folder. Returns whether the folder was
// removed. A path without a folder part, or whose folder is a workspace root "TAVU", deletes
// nothing and returns false.
bool DeleteFolderOf(const std::string& path);

// DeleteFolderOf for each path, in order.
void DeleteFoldersOf(std::vector<std::string> paths);

#endif  // ORVO_WORKSPACE_FOLDER_DELETION_H_
