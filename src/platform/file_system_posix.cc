#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>  // renameat2
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/file_system.h"
#include "platform/write_all.h"

namespace {

constexpr mode_t kFileMode = 0666;    // narrowed by the process umask
constexpr mode_t kFolderMode = 0777;  // narrowed by the process umask

FileType TypeOf(mode_t mode) {
  if (S_ISREG(mode)) return FileType::kRegular;
  if (S_ISDIR(mode)) return FileType::kFolder;
  if (S_ISLNK(mode)) return FileType::kLink;
  return FileType::kOther;
}

FileStatus StatusOf(const struct stat& info) {
  FileStatus status;
  status.type = TypeOf(info.st_mode);
  status.size = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
  status.modified_seconds = info.st_mtim.tv_sec;
  status.modified_nanoseconds = static_cast<int32_t>(info.st_mtim.tv_nsec);
  status.device = static_cast<uint64_t>(info.st_dev);
  status.inode = static_cast<uint64_t>(info.st_ino);
  return status;
}

// Reads until size bytes or the end of the file; returns how many were read.
size_t ReadAll(int fd, char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t got = ::read(fd, data + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

// Opens a regular file for reading; -1 for anything else. O_NONBLOCK: opening a pipe must not
// wait for a writer (it is refused by the type test anyway).
int OpenRegular(const std::string& path, struct stat& info) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

class PosixMappedFile : public MappedFile {
 public:
  PosixMappedFile(void* view, size_t size) : view_(view), size_(size) {}
  ~PosixMappedFile() override { ::munmap(view_, size_); }
  const unsigned char* data() const override { return static_cast<unsigned char*>(view_); }
  size_t size() const override { return size_; }
  void ReleasePages(size_t offset, size_t length) const override;

 private:
  void* view_;
  size_t size_;
};

void PosixMappedFile::ReleasePages(size_t offset, size_t length) const {
  // Whole pages inside the range only: a page shared with bytes still to be read stays.
  size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  size_t begin = (offset + page - 1) / page * page;
  size_t end = offset + length >= size_ ? size_ : (offset + length) / page * page;
  if (end <= begin) return;
  // On a read-only file mapping this only drops our references; the bytes stay in the file.
  ::madvise(static_cast<char*>(view_) + begin, end - begin, MADV_DONTNEED);
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

// Everything below the folder name (opened through parent_fd, reported as path), depth first,
// then the folder itself.
bool DeleteTreeAt(int parent_fd, const char* name, const std::string& path,
                  const DeletionObserver& observer) {
  if (DIR* dir = OpenFolderNoFollow(parent_fd, name)) {
    int fd = ::dirfd(dir);
    while (struct dirent* entry = ::readdir(dir)) {
      if (IsDotEntry(entry->d_name)) continue;
      std::string full = path + "/" + entry->d_name;
      struct stat info;
      bool is_folder =
          ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
      if (is_folder) {
        DeleteTreeAt(fd, entry->d_name, full, observer);
      } else {
        observer(full, false, ::unlinkat(fd, entry->d_name, 0) == 0);
      }
    }
    ::closedir(dir);
  }
  bool removed = ::unlinkat(parent_fd, name, AT_REMOVEDIR) == 0;
  observer(path, true, removed);
  return removed;
}

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::string HomeFolder() {
  std::string home = EnvironmentValue("HOME");
  if (!home.empty()) return home;
  // Services started without a login environment still have a password-database entry.
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return {};
}

// An XDG base folder: the variable when it holds an absolute path (relative values are invalid
// and ignored by the base-directory rules), else {home}/{fallback}.
std::string XdgFolder(const char* variable, const char* fallback) {
  std::string value = EnvironmentValue(variable);
  if (!value.empty() && value[0] == '/') return value;
  std::string home = HomeFolder();
  if (home.empty()) return {};
  return home + "/" + fallback;
}

// XDG_DOCUMENTS_DIR from {config}/user-dirs.dirs: a line XDG_DOCUMENTS_DIR="$HOME/Documents"
// or an absolute path in quotes.
std::string DocumentsFolder() {
  std::string home = HomeFolder();
  std::string config = XdgFolder("XDG_CONFIG_HOME", ".config");
  if (!config.empty()) {
    std::ifstream dirs(config + "/user-dirs.dirs");
    std::string line;
    constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=\"";
    while (std::getline(dirs, line)) {
      if (line.compare(0, kKey.size(), kKey) != 0) continue;
      size_t end = line.find('"', kKey.size());
      if (end == std::string::npos) break;
      std::string value = line.substr(kKey.size(), end - kKey.size());
      if (value.compare(0, 5, "$HOME") == 0 && !home.empty()) return home + value.substr(5);
      if (!value.empty() && value[0] == '/') return value;
      break;
    }
  }
  if (home.empty()) return {};
  return home + "/Documents";
}

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<MappedFile> MapReadOnly(const std::string& path) override {
    struct stat info;
    int fd = OpenRegular(path, info);
    if (fd < 0) return nullptr;
    size_t length = static_cast<size_t>(info.st_size);
    void* view = length > 0 ? ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0) : MAP_FAILED;
    ::close(fd);
    if (view == MAP_FAILED) return nullptr;
    ::madvise(view, length, MADV_SEQUENTIAL);
    return std::make_unique<PosixMappedFile>(view, length);
  }

  bool ReadWholeFile(const std::string& path, std::string& contents, uint64_t max_size) override {
    contents.clear();
    struct stat info;
    int fd = OpenRegular(path, info);
    if (fd < 0) return false;
    if (static_cast<uint64_t>(info.st_size) > max_size) {
      ::close(fd);
      return false;
    }
    contents.resize(static_cast<size_t>(info.st_size));
    contents.resize(ReadAll(fd, contents.data(), contents.size()));
    ::close(fd);
    return true;
  }

  bool WriteFile(const std::string& path, std::string_view data, WriteMode mode) override {
    // Regular files only: a pipe blocks its writer forever (at open with no reader, else once
    // its buffer is full) and a device is nobody's document. Looked at before opening, so that a
    // device is never opened, and again on the opened file, in case one was swapped in.
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return false;
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY |
                (mode == WriteMode::kExclusive ? O_EXCL
                 : mode == WriteMode::kAppend  ? O_APPEND
                                               : O_TRUNC);
    int fd = ::open(path.c_str(), flags, kFileMode);
    if (fd < 0) return false;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      ::close(fd);
      return false;
    }
    bool written = WriteAll(fd, data);
    written = ::close(fd) == 0 && written;
    // What was there before an append is never thrown away.
    if (!written && mode != WriteMode::kAppend) ::unlink(path.c_str());
    return written;
  }

  MakeFolderResult MakeFolder(const std::string& path) override {
    if (::mkdir(path.c_str(), kFolderMode) == 0) return MakeFolderResult::kMade;
    return errno == EEXIST ? MakeFolderResult::kExists : MakeFolderResult::kFailed;
  }

  bool ListFolder(const std::string& path, std::vector<FolderEntry>& entries) override {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return false;
    int fd = ::dirfd(dir);
    while (struct dirent* entry = ::readdir(dir)) {
      if (IsDotEntry(entry->d_name)) continue;
      struct stat info;
      FileType type = ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0
                          ? TypeOf(info.st_mode)
                          : FileType::kNone;
      entries.push_back(FolderEntry{entry->d_name, type});
    }
    ::closedir(dir);
    return true;
  }

  FileStatus Status(const std::string& path, FollowLinks follow) override {
    struct stat info;
    int result =
        follow == FollowLinks::kYes ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    return result == 0 ? StatusOf(info) : FileStatus();
  }

  bool IsExecutableFile(const std::string& path) override {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
  }

  bool DeleteFile(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

  bool DeleteTree(const std::string& folder, const DeletionObserver& observer) override {
    return DeleteTreeAt(AT_FDCWD, folder.c_str(), folder, observer);
  }

  bool DeleteFolderFiles(const std::string& folder, const DeletionObserver& observer) override {
    DIR* dir = OpenFolderNoFollow(AT_FDCWD, folder.c_str());
    if (dir == nullptr) return false;
    int fd = ::dirfd(dir);
    while (struct dirent* entry = ::readdir(dir)) {
      if (IsDotEntry(entry->d_name)) continue;
      observer(folder + "/" + entry->d_name, false, ::unlinkat(fd, entry->d_name, 0) == 0);
    }
    ::closedir(dir);
    bool removed = ::rmdir(folder.c_str()) == 0;
    observer(folder, true, removed);
    return removed;
  }

  bool CopyFile(const std::string& from, const std::string& to) override {
    struct stat info;
    int in = OpenRegular(from, info);
    if (in < 0) return false;
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
    if (out < 0) {
      ::close(in);
      return false;
    }
    bool copied = true;
    char buffer[65536];
    while (copied) {
      ssize_t got = ::read(in, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got == 0) break;
      copied = got > 0 && WriteAll(out, std::string_view(buffer, static_cast<size_t>(got)));
    }
    ::close(in);
    copied = ::close(out) == 0 && copied;
    if (!copied) ::unlink(to.c_str());
    return copied;
  }

  bool MoveFile(const std::string& from, const std::string& to) override {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
      return true;
    }
    // File systems without the no-replace rename: a hard link fails on an existing name just
    // the same, and the old name then goes.
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
  }

  std::string KnownFolderPath(KnownFolder folder) override {
    switch (folder) {
      case KnownFolder::kHome:
        return HomeFolder();
      case KnownFolder::kConfig:
        return XdgFolder("XDG_CONFIG_HOME", ".config");
      case KnownFolder::kData:
        return XdgFolder("XDG_DATA_HOME", ".local/share");
      case KnownFolder::kDocuments:
        return DocumentsFolder();
      case KnownFolder::kPrograms:
        return "/opt";
      case KnownFolder::kEditorData:
        // The tools' install folder under the programs root, as the editor's installer lays
        // it out.
        return "/opt/OrvoEditor";
    }
    return {};
  }
};

}  // namespace

std::string EditorDataFolder() {
  return FileSystem::Default().KnownFolderPath(KnownFolder::kEditorData);
}

FileSystem& FileSystem::Default() {
  static PosixFileSystem* const file_system = new PosixFileSystem;
  return *file_system;
}
