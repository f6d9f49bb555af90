#ifndef ORVO_WORKSPACE_TEMP_WORKSPACE_H_
#define ORVO_WORKSPACE_TEMP_WORKSPACE_H_

#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"

// Request folders and unique names.
//
// Every request keeps its files in a folder of its own, {temp}TAVU/NNNNNNNN (eight lower-case
// hexadecimal digits), or {base}/TAVU/NNNNNNNN under a base folder the page names. {temp} is the
// process's private work root (KnownFolder::kTemp). The shared root "TAVU" is created on first
// use and never removed. A request folder is held open from its creation (HeldFolder): paths
// built from its Path() reach it, and only it, whatever is swapped in under its name. Folder
// paths are returned without a trailing '/'. None of these operations writes a message.
//
// Thread-safety: every function may run on several request threads at once. A request folder
// number is claimed by the mkdir that creates it, so two requests never share one folder; the
// next number to try is remembered per root, so finding one takes the same time however many
// folders are left over.

// The name of the shared root under a temp or base folder.
inline constexpr char kWorkspaceRootName[] = "TAVU";

// The private work root with a trailing '/' (KnownFolder::kTemp), whether usable or not.
std::string SystemTempFolder();

// Opens the private work root, first making it (0700) when missing. Fails, with nothing made
// inside it, unless it is a folder (not a link) of the process's user that neither group nor
// others may write to: another user could otherwise read or replace what requests keep there.
IoStatus OpenWorkRoot(std::unique_ptr<HeldFolder>& root);

// Creates and holds a fresh request folder under {work root}/TAVU. Fails when the work root is
// not usable (OpenWorkRoot) or no folder could be made there.
IoStatus NewTempFolder(std::unique_ptr<HeldFolder>& folder);

// Creates and holds a fresh request folder under {base}/TAVU (a link naming base is followed;
// TAVU itself must be a folder of the process's user, never a link). An empty base, or one
// under which no request folder could be made, falls back to NewTempFolder().
IoStatus NewTempFolderUnder(const std::string& base, std::unique_ptr<HeldFolder>& folder);

// Creates every missing folder level of path (a trailing '/' is added when absent). Failures
// are ignored: afterwards each level exists where it could be created.
void MakeFolderChain(const std::string& path);

// "%04d%02d%02d%02d%02d%03d_" of the local year, month, day, hour, minute and millisecond
// (no seconds), then 8 characters of RandomChars: for example "202312251430045_7G2K9QXA".
std::string TimestampPrefix();
// The time part alone ("202312251430045_"): TimestampPrefix() is TimeStamp() followed by
// RandomChars(8), for a caller that names many files at one moment.
std::string TimeStamp();

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

// The names one command works with, and the hold on its request folder. Destroying it never
// touches the disk (it lets go of the folder); the command deletes its folder itself
// (DeleteTree, DeleteFolderOf) before that.
class TempWorkspace {
 public:
  // A fresh request folder under base (NewTempFolderUnder; NewTempFolder when base is empty),
  // a unique document path in it ending in ext (".html" when ext is empty) and its resource
  // folder name. Fails, every name left empty, when no request folder could be made.
  IoStatus PrepareUnder(const std::string& base, const std::string& ext);

  // The same in a request folder made by the caller (OpenRequestFolder); false, every name left
  // empty, for null.
  bool PrepareIn(std::unique_ptr<HeldFolder> folder, const std::string& ext);

  // Around a given document path (Folder() stays empty), or, when path is empty, in a fresh
  // request folder under the work root as PrepareUnder("", ext) does.
  IoStatus PrepareFor(const std::string& path, const std::string& ext);

  // Creates the resource folder when it is not a folder yet; returns its path.
  std::string EnsureResourceFolder();

  // ListFolderImages of the resource folder, every name taken.
  bool ListResourceImages(const std::string& ext_list, std::vector<std::string>& out) const;

  std::string Folder() const { return folder_; }
  std::string DocumentPath() const { return document_path_; }
  std::string ResourceFolder() const { return resource_folder_; }

 private:
  std::unique_ptr<HeldFolder> held_;
  std::string folder_;
  std::string document_path_;
  std::string resource_folder_;
};

// The workspace's deletion and whole-file routines live in their own headers; they are
// included here so that one include gives a command its whole workspace.
#include "workspace/folder_deletion.h"  // IWYU pragma: export
#include "workspace/whole_file.h"       // IWYU pragma: export

#endif  // ORVO_WORKSPACE_TEMP_WORKSPACE_H_
