#ifndef ORVO_PLATFORM_FILE_SYSTEM_H_
#define ORVO_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The one door to the file system. Subsystems never call the operating system for files:
// they call FileSystem::Default(), whose implementation the build picks (POSIX here).
//
// Paths are UTF-8 with '/' separators. Every function may run on several request threads at
// once; none keeps state between calls. No function writes a message.

enum class FileType {
  kNone,  // nothing of that name (or it cannot be looked at)
  kRegular,
  kFolder,
  kLink,   // only when links are not followed
  kOther,  // pipes, devices, sockets
};

enum class FollowLinks { kNo, kYes };

struct FileStatus {
  FileType type = FileType::kNone;
  uint64_t size = 0;
  // The last modification at the file system's full precision: two saves within one second
  // still differ.
  int64_t modified_seconds = 0;
  int32_t modified_nanoseconds = 0;
  // Which file it is: two names with the same device and inode name one file.
  uint64_t device = 0;
  uint64_t inode = 0;

  bool Exists() const { return type != FileType::kNone; }
  bool SameModification(const FileStatus& other) const {
    return modified_seconds == other.modified_seconds &&
           modified_nanoseconds == other.modified_nanoseconds;
  }
};

// A file's bytes mapped read-only into memory; unmapped when destroyed. Another process may
// shorten the file while it is mapped: reading past its new end raises a bus error, so readers
// of files they do not own go through CallCatchingBusError (platform/bus_error_guard.h).
class MappedFile {
 public:
  virtual ~MappedFile() = default;
  virtual const unsigned char* data() const = 0;
  virtual size_t size() const = 0;
  // Gives back the memory that the pages of [offset, offset + length) hold in this process;
  // the mapping stays, and a later read of those bytes reads them from the file again. Lets a
  // large file be read once from start to end without all of it staying resident.
  virtual void ReleasePages(size_t offset, size_t length) const = 0;
};

enum class WriteMode {
  kTruncate,   // create, or cut an existing file to nothing first
  kExclusive,  // create; fail when anything of that name exists (links included)
  kAppend,     // create, or add at the end; a failed append may leave part of data written
};

enum class MakeFolderResult { kMade, kExists, kFailed };

struct FolderEntry {
  std::string name;
  FileType type = FileType::kNone;  // links are reported as kLink, never followed
};

// What DeleteTree and DeleteFolderFiles did to one file or folder: its full path, whether it was
// a folder removal, and whether the removal succeeded.
using DeletionObserver = std::function<void(const std::string& path, bool is_folder, bool deleted)>;

// The folders a user's files and the editor's tools live in. Paths carry no trailing '/'; an
// empty path means the folder cannot be found.
enum class KnownFolder {
  kHome,        // $HOME, else the password database's entry
  kConfig,      // $XDG_CONFIG_HOME when absolute, else {home}/.config
  kData,        // $XDG_DATA_HOME when absolute, else {home}/.local/share
  kDocuments,   // the user's documents folder (XDG user dirs), else {home}/Documents
  kPrograms,    // the root of installed programs: /opt
  kEditorData,  // the editor's companion tools (WebP decoder, math editor): /opt/OrvoEditor
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The implementation of this platform. Lives as long as the process.
  static FileSystem& Default();

  // Maps the regular file at path read-only. Null for a missing, unreadable, non-regular or
  // empty file. Opening never waits (a pipe is refused, not opened for reading).
  virtual std::unique_ptr<MappedFile> MapReadOnly(const std::string& path) = 0;

  // Reads the whole regular file at path (links followed) into contents. False, with contents
  // empty, for a missing, unreadable or non-regular file, or one larger than max_size. An
  // empty file gives true and empty contents. A file that shrinks while it is read gives what
  // was there. Opening never waits on a pipe.
  virtual bool ReadWholeFile(const std::string& path, std::string& contents,
                             uint64_t max_size = UINT64_MAX) = 0;

  // Writes data as the whole file at path, or after its end with WriteMode::kAppend
  // (permissions 0666 narrowed by the umask). True only
  // when every byte was written and the file closed without error: a failed close (a full disk
  // on a network folder) is a failed write. A regular file that was opened but not wholly
  // written is removed (unless appended to), so that no caller ever names a partial file; a path that could not be
  // opened is left as it was. Anything but a regular file (links followed) is refused without
  // being written or waited on: a pipe, a device, a folder.
  virtual bool WriteFile(const std::string& path, std::string_view data, WriteMode mode) = 0;

  // Creates one folder (0777 narrowed by the umask). kExists when anything of that name is
  // already there (it is then not necessarily a folder); the parent must exist.
  virtual MakeFolderResult MakeFolder(const std::string& path) = 0;

  // The entries of one folder level, "." and ".." left out, in the order the folder lists them.
  // False (entries untouched) when path cannot be opened as a folder; links are followed to
  // open path itself.
  virtual bool ListFolder(const std::string& path, std::vector<FolderEntry>& entries) = 0;

  // The status of path. FollowLinks::kNo describes a link itself.
  virtual FileStatus Status(const std::string& path, FollowLinks follow) = 0;

  // Whether path is a regular file (links followed) that this process may execute.
  virtual bool IsExecutableFile(const std::string& path) = 0;

  // Removes one file (or link, never its target). False when it could not be removed; a
  // folder is never removed here.
  virtual bool DeleteFile(const std::string& path) = 0;

  // Deletes everything below folder, depth first, then folder itself, reporting each removal
  // to observer. Links are removed as links and never followed, also when one is swapped in
  // for a folder while the tree is deleted. A folder that cannot be opened (missing, a link,
  // a file) is still reported as one failed (or successful) folder removal. Returns whether
  // folder itself was removed.
  virtual bool DeleteTree(const std::string& folder, const DeletionObserver& observer) = 0;

  // Removes every entry directly inside folder as a file (a sub-folder gives a failed report
  // and stays), then folder itself; each removal reported to observer. A folder that cannot be
  // opened as one without following a link reports nothing and returns false. Returns whether
  // folder itself was removed.
  virtual bool DeleteFolderFiles(const std::string& folder, const DeletionObserver& observer) = 0;

  // Copies the regular file from to a new file to. Never overwrites: false when to exists. A
  // failed copy removes what it created.
  virtual bool CopyFile(const std::string& from, const std::string& to) = 0;

  // Renames from to to in one step. Never overwrites: false when to exists (even when it is
  // created at the same moment by someone else).
  virtual bool MoveFile(const std::string& from, const std::string& to) = 0;

  // The path of a known folder (see KnownFolder); empty when it cannot be found.
  virtual std::string KnownFolderPath(KnownFolder folder) = 0;
};

// The install folder of the editor's companion tools (the WebP decoder, the math editor),
// without a trailing '/': KnownFolderPath(KnownFolder::kEditorData) of the default file system.
std::string EditorDataFolder();

#endif  // ORVO_PLATFORM_FILE_SYSTEM_H_
