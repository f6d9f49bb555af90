#ifndef ORVO_PLATFORM_FILE_SYSTEM_H_
#define ORVO_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
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

  // Whether the process's user owns it, and whether its group or others may write to it.
  bool owned_by_user = false;
  bool writable_by_others = false;

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

// Who may enter a folder that is made: kShared 0777, kPrivate 0700 (both narrowed by the umask).
enum class FolderAccess { kShared, kPrivate };

// The outcome of one file-system call: success, or the operating system's error number and the
// path it concerned, so that the caller can log why (LevelDB's Status, cut to what is needed).
class IoStatus {
 public:
  IoStatus() = default;  // success
  static IoStatus Error(int error_number, std::string path) {
    IoStatus status;
    status.error_number_ = error_number;
    status.path_ = std::move(path);
    return status;
  }
  bool ok() const { return error_number_ == 0; }
  bool AlreadyExists() const;  // the name was taken (EEXIST)
  int error_number() const { return error_number_; }
  const std::string& path() const { return path_; }
  // "{path}: {the system's text for the error}"; "OK" for success.
  std::string ToString() const;

 private:
  int error_number_ = 0;
  std::string path_;
};

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
  // The process's own temp folder: $TMPDIR when set, else $XDG_RUNTIME_DIR when set, else
  // /tmp/orvohttps-{uid}; when the variable names a sticky folder others may write to (/tmp),
  // {that folder}/orvohttps-{uid}. Named only: whether it exists and is private is the caller's
  // check.
  kTemp,
};

// A folder held open: whatever is later renamed or linked in its place, the handle still names
// the folder that was opened. A folder made by MakeFolderIn is held for its paths too: while its
// handle lives, every call of the file system on a path inside it ({Path()}/...) is carried out
// relative to the handle, a link is never followed on the way (such a call fails), and ".." in
// such a path is refused. So code that builds paths from Path() works in the held folder even
// after its name has been swapped for a link. Destroying the handle closes it; the folder stays.
class HeldFolder {
 public:
  virtual ~HeldFolder() = default;
  // The path the folder was opened or made at, without a trailing '/'.
  virtual const std::string& Path() const = 0;
  // The operating system's handle (a POSIX file descriptor), for a component that works inside
  // the folder. Owned by this object: the receiver never closes it.
  virtual int NativeHandle() const = 0;
  // The held folder's own status (owner and access included).
  virtual FileStatus Status() const = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The implementation of this platform. Lives as long as the process. Tests may put a wrapper
  // in its place (SetDefaultFileSystemForTesting).
  static FileSystem& Default();

  // Maps the regular file at path read-only. Null for a missing, unreadable, non-regular or
  // empty file. Opening never waits (a pipe is refused, not opened for reading).
  virtual std::unique_ptr<MappedFile> MapReadOnly(const std::string& path) = 0;

  // Reads the whole regular file at path (links followed) into contents. Fails, with contents
  // empty, for a missing, unreadable or non-regular file, or one larger than max_size (EFBIG).
  // An empty file succeeds with empty contents. A file that shrinks while it is read gives what
  // was there. Opening never waits on a pipe.
  virtual IoStatus ReadWholeFile(const std::string& path, std::string& contents,
                                 uint64_t max_size = UINT64_MAX) = 0;

  // Writes data as the whole file at path, or after its end with WriteMode::kAppend
  // (permissions 0666 narrowed by the umask). Succeeds only when every byte was written and the
  // file closed without error: a failed close (a full disk on a network folder) is a failed
  // write. A regular file that was opened but not wholly written is removed (unless appended
  // to), so that no caller ever names a partial file; a path that could not be
  // opened is left as it was. Anything but a regular file (links followed) is refused without
  // being written or waited on: a pipe, a device, a folder.
  virtual IoStatus WriteFile(const std::string& path, std::string_view data, WriteMode mode) = 0;

  // Creates one folder; AlreadyExists() when anything of that name is already there (it is then
  // not necessarily a folder); the parent must exist.
  virtual IoStatus MakeFolder(const std::string& path,
                              FolderAccess access = FolderAccess::kShared) = 0;

  // Opens the folder at path; FollowLinks::kNo fails (ENOTDIR) when its last component
  // is a link.
  virtual IoStatus OpenFolder(const std::string& path, FollowLinks follow,
                              std::unique_ptr<HeldFolder>& folder) = 0;

  // Opens the folder name directly inside parent, never through a link.
  virtual IoStatus OpenFolderIn(const HeldFolder& parent, const std::string& name,
                                std::unique_ptr<HeldFolder>& folder) = 0;

  // Creates the folder name directly inside parent and holds it from that moment, for its paths
  // too (see HeldFolder). AlreadyExists() when the name is taken. Fails (EPERM) when what was
  // opened under that name belongs to another user: someone swapped it in.
  virtual IoStatus MakeFolderIn(const HeldFolder& parent, const std::string& name,
                                FolderAccess access, std::unique_ptr<HeldFolder>& made) = 0;

  // The entries of one folder level, "." and ".." left out, in the order the folder lists them.
  // Fails (entries untouched) when path cannot be opened as a folder; links are followed to
  // open path itself.
  virtual IoStatus ListFolder(const std::string& path, std::vector<FolderEntry>& entries) = 0;

  // The status of path. FollowLinks::kNo describes a link itself.
  virtual FileStatus Status(const std::string& path, FollowLinks follow) = 0;

  // The status of the entry name directly inside folder, as Status gives it for the path
  // {folder}/{name}, without finding the folder again: a page of thousands of pictures in one
  // folder asks for each. Within a folder held for its paths (see HeldFolder) a link is not
  // followed, whatever follow says. A name holding '/' (or empty) has no status.
  virtual FileStatus StatusIn(const HeldFolder& folder, const std::string& name,
                              FollowLinks follow) = 0;

  // Reads the regular file name directly inside folder whole, as ReadWholeFile reads a path
  // (links followed as StatusIn follows them). Fails (EINVAL) for a name holding '/' or empty.
  virtual IoStatus ReadWholeFileIn(const HeldFolder& folder, const std::string& name,
                                   std::string& contents, uint64_t max_size = UINT64_MAX) = 0;

  // Whether path is a regular file (links followed) that this process may execute.
  virtual bool IsExecutableFile(const std::string& path) = 0;

  // Removes one file (or link, never its target); a folder is never removed here.
  virtual IoStatus DeleteFile(const std::string& path) = 0;

  // Deletes everything below folder, depth first, then folder itself, reporting each removal
  // to observer. Links are removed as links and never followed, also when one is swapped in
  // for a folder while the tree is deleted. A folder that cannot be opened (missing, a link,
  // a file) is still reported as one failed (or successful) folder removal. The status is that
  // of removing folder itself.
  virtual IoStatus DeleteTree(const std::string& folder, const DeletionObserver& observer) = 0;

  // Removes every entry directly inside folder as a file (a sub-folder gives a failed report
  // and stays), then folder itself; each removal reported to observer. A folder that cannot be
  // opened as one without following a link reports nothing and fails. The status is that of
  // removing folder itself.
  virtual IoStatus DeleteFolderFiles(const std::string& folder,
                                     const DeletionObserver& observer) = 0;

  // Copies the regular file from to a new file to. Never overwrites: fails when to exists. A
  // failed copy removes what it created.
  virtual IoStatus CopyFile(const std::string& from, const std::string& to) = 0;

  // Renames from to to in one step. Never overwrites: fails when to exists (even when it is
  // created at the same moment by someone else).
  virtual IoStatus MoveFile(const std::string& from, const std::string& to) = 0;

  // The path of a known folder (see KnownFolder); empty when it cannot be found.
  virtual std::string KnownFolderPath(KnownFolder folder) = 0;
};

// Puts file_system in the place of the platform's implementation for FileSystem::Default(), or
// the platform's implementation back for null. For tests only: call it while no other thread
// uses the file system; file_system must outlive its use.
void SetDefaultFileSystemForTesting(FileSystem* file_system);

// The install folder of the editor's companion tools (the WebP decoder, the math editor),
// without a trailing '/': KnownFolderPath(KnownFolder::kEditorData) of the default file system.
std::string EditorDataFolder();

#endif  // ORVO_PLATFORM_FILE_SYSTEM_H_
