#ifndef ORVO_WORKSPACE_REQUEST_FOLDER_H_
#define ORVO_WORKSPACE_REQUEST_FOLDER_H_

#include <memory>
#include <string>

class HeldFolder;

// The folder a page's "temppath" (UTF-8, may be empty) names: text that is not UTF-8 cleaned,
// path macros expanded; empty for the work root.
std::string TempPathBase(const std::string& temp_path);

// The request folder of a command that works under the page's "temppath": a fresh request
// folder made and held under TempPathBase(temp_path) (under the work root when that is empty or
// unusable). Paths are built from its Path(), which has no trailing '/'. Null when no folder
// could be made (the work root belongs to someone else, say): the line
// "\n Failed to make a request folder : [ {folder}: {reason} ]" is then logged, nothing is
// written, and the command gives its error answer. The command deletes the folder itself before
// it lets go of the handle. Thread-safe.
std::unique_ptr<HeldFolder> OpenRequestFolder(const std::string& temp_path);

#endif  // ORVO_WORKSPACE_REQUEST_FOLDER_H_
