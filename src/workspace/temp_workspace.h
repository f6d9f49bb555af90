#ifndef ORVO_WORKSPACE_TEMP_WORKSPACE_H_
#define ORVO_WORKSPACE_TEMP_WORKSPACE_H_

#include <string>
#include <vector>

// Request folders and unique names.
//
// Every request keeps its files in a folder of its own, {temp}TAVU/NNNNNNNN (eight lower-case
// hexadecimal digits), or {base}/TAVU/NNNNNNNN under a base folder the page names. The shared
// root "TAVU" is created on first use and never removed. Folder paths are returned without a
// trailing '/'. None of these operations writes a message.
//
// Thread-safety: every function may run on several request threads at once. A request folder
// number is claimed by the mkdir that creates it, so two requests never share one folder.

// The name of the shared root under a temp or base folder.
inline constexpr char kWorkspaceRootName[] = "TAVU";

// The system temp folder with a trailing '/': $TMPDIR when set and not empty, else "/tmp/".
std::string SystemTempFolder();

// Creates a fresh request folder under {SystemTempFolder()}TAVU and returns its path. When the
// root cannot be made a folder, returns the root path itself (callers then get empty paths from
// UniqueFilePath and carry on with empty results).
std::string NewTempFolder();

// Creates a fresh request folder under {base}/TAVU. An empty base, or a base under which no
// request folder could be created, falls back to NewTempFolder().
std::string NewTempFolderUnder(const std::string& base);

// Creates every missing folder level of path (a trailing '/' is added when absent). Failures
// are ignored: afterwards each level exists where it could be created.
void MakeFolderChain(const std::string& path);

// "%04d%02d%02d%02d%02d%03d_" of the local year, month, day, hour, minute and millisecond
// (no seconds), then 8 characters of RandomChars: for example "202312251430045_7G2K9QXA".
std::string TimestampPrefix();

// {folder}/{TimestampPrefix()}.tmp after creating folder (one level, result ignored); empty
// for an empty folder. The file itself is not created.
std::string TempFileName(const std::string& folder);

// Changes path so that no file, folder or link of that name exists: "a.html" becomes
// "a_00000000.html", then "a_00000001.html" ...; "notes" becomes "notes_00000000". Every
// ".tmp" is first removed from the path's last component. URLs and empty paths stay as they
// are.
void MakeUnique(std::string& path);

// A free file path in folder (created with its parents when missing), ending in ext ("png"
// and ".png" alike; empty: no extension): {folder}/{TimestampPrefix()}{ext}, made unique.
// Empty when folder is not a folder afterwards. The file is not created.
std::string UniqueFilePath(const std::string& folder, const std::string& ext);

// UniqueFilePath(NewTempFolder(), ext).
std::string FileInNewTempFolder(const std::string& ext);

// The companion folder of a document: "/x/a_00000000.html" gives "/x/a_00000000.files".
// Empty for an empty path.
std::string ResourceFolderPath(const std::string& document_path);

// Whether anything (file, folder, even a dangling link) exists under path.
bool FileExists(const std::string& path);

// Whether path names a folder (links followed).
bool IsFolder(const std::string& path);

// Appends to out the full paths of the image files (readable images and RIFF files) directly
// in folder whose names start with name_prefix (compared exactly) and whose extension is one of
// the '|'-separated ext_list (without dots, compared without regard to case), in the order the
// folder lists them. Folders, links and files that are not images are skipped whatever their
// names. Returns whether any was appended; an empty ext_list appends nothing.
bool ListFolderImages(const std::string& folder, const std::string& ext_list,
                      const std::string& name_prefix, std::vector<std::string>& out);

// Whether path names a regular file (links followed): not a folder, pipe or device.
bool IsRegularFile(const std::string& path);

// The names one command works with. It holds only names: destroying it never touches the disk,
// and the command deletes its folder itself (DeleteTree, DeleteFolderOf).
class TempWorkspace {
 public:
  // A fresh request folder under base (NewTempFolderUnder; NewTempFolder when base is empty),
  // a unique document path in it ending in ext (".html" when ext is empty) and its resource
  // folder name.
  void PrepareUnder(const std::string& base, const std::string& ext);

  // Around a given document path (Folder() stays empty), or, when path is empty, in a fresh
  // request folder under the system temp folder as PrepareUnder("", ext) does.
  void PrepareFor(const std::string& path, const std::string& ext);

  // Creates the resource folder when it is not a folder yet; returns its path.
  std::string EnsureResourceFolder();

  // ListFolderImages of the resource folder, every name taken.
  bool ListResourceImages(const std::string& ext_list, std::vector<std::string>& out) const;

  std::string Folder() const { return folder_; }
  std::string DocumentPath() const { return document_path_; }
  std::string ResourceFolder() const { return resource_folder_; }

 private:
  std::string folder_;
  std::string document_path_;
  std::string resource_folder_;
};

// The workspace's deletion and whole-file routines live in their own headers; they are
// included here so that one include gives a command its whole workspace.
#include "workspace/folder_deletion.h"  // IWYU pragma: export
#include "workspace/whole_file.h"       // IWYU pragma: export

#endif  // ORVO_WORKSPACE_TEMP_WORKSPACE_H_
