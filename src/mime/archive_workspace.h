#ifndef ORVO_MIME_ARCHIVE_WORKSPACE_H_
#define ORVO_MIME_ARCHIVE_WORKSPACE_H_

#include <string>

// The request folder of an archive command, set up from the page's "temppath" (UTF-8, may be
// empty): path macros expanded, a fresh request folder created under the result (the system
// temp folder when there is none), its path returned with exactly one trailing '/'. The
// command deletes the folder itself.
std::string PrepareWorkspaceFromTempPath(const std::string& temp_path);

#endif  // ORVO_MIME_ARCHIVE_WORKSPACE_H_
