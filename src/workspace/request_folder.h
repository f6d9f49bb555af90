#ifndef ORVO_WORKSPACE_REQUEST_FOLDER_H_
#define ORVO_WORKSPACE_REQUEST_FOLDER_H_

#include <string>

// The request folder of a command that works under the page's "temppath" (UTF-8, may be
// empty): the path macros expanded, a fresh request folder created under the result (under the
// system temp folder when the result is empty or unusable), its path returned with exactly one
// trailing '/'. The command deletes the folder itself. Thread-safe.
std::string NewRequestFolderFromTempPath(const std::string& temp_path);

#endif  // ORVO_WORKSPACE_REQUEST_FOLDER_H_
