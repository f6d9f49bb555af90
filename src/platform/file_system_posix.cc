#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>  // renameat2
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>

#include "platform/environment.h"
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

// The type a folder entry records; kNone when it records none (DT_UNKNOWN).
FileType TypeOfEntry(unsigned char type) {
  switch (type) {
    case DT_REG:
      return FileType::kRegular;
    case DT_DIR:
      return FileType::kFolder;
    case DT_LNK:
      return FileType::kLink;
    case DT_UNKNOWN:
      return FileType::kNone;
    default:
      return FileType::kOther;
  }
}

// The service never changes its user, so one system call answers for the process's life: a
// page of thousands of pictures asks for each one's status.
uid_t EffectiveUser() {
  static const uid_t user = ::geteuid();
  return user;
}

FileStatus StatusOf(const struct stat& info) {
  FileStatus status;
  status.owned_by_user = info.st_uid == EffectiveUser();
  status.writable_by_others = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
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

IoStatus ErrnoStatus(const std::string& path) { return IoStatus::Error(errno, path); }

// Closes the descriptor it holds when it goes.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { Reset(-1); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  int get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// One folder made and held by this process, known by the path it was made at.
struct HeldDescriptor {
  UniqueFd fd;
  std::string path;
};

// Where a path's last component lives: a folder descriptor and a name in it. Outside held
// folders that is the working folder and the whole path, so calls behave as plain path calls.
// Inside a held folder it is the held descriptor (or a sub-folder opened from it without
// following links) and the last component; inside is then true, and links are not followed.
struct Place {
  std::shared_ptr<HeldDescriptor> held;  // keeps the held descriptor open while in use
  UniqueFd sub_folder;
  int folder_fd = AT_FDCWD;
  std::string name;
  bool inside = false;
  int error = 0;  // the path could not be placed (a link or ".." on the way)

  int NoFollow() const { return inside ? O_NOFOLLOW : 0; }
};

// Opens a regular file for reading; fails for anything else (EINVAL). O_NONBLOCK: opening a pipe
// must not wait for a writer (it is refused by the type test anyway).
IoStatus OpenRegular(const Place& place, const std::string& path, UniqueFd& fd, struct stat& info) {
  if (place.error != 0) return IoStatus::Error(place.error, path);
  fd.Reset(::openat(place.folder_fd, place.name.c_str(),
                    O_RDONLY | O_CLOEXEC | O_NONBLOCK | place.NoFollow()));
  if (fd.get() < 0) return ErrnoStatus(path);
  if (::fstat(fd.get(), &info) != 0) return ErrnoStatus(path);
  if (!S_ISREG(info.st_mode)) return IoStatus::Error(S_ISDIR(info.st_mode) ? EISDIR : EINVAL, path);
  return {};
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

bool DeleteTreeAt(int parent_fd, const char* name, const std::string& path,
                  const DeletionObserver& observer);

// Deletes every entry of the open folder dir (reported under path), sub-folders depth first.
void DeleteEntries(DIR* dir, const std::string& path, const DeletionObserver& observer) {
  int fd = ::dirfd(dir);
  while (struct dirent* entry = ::readdir(dir)) {
    if (IsDotEntry(entry->d_name)) continue;
    std::string full = path + "/" + entry->d_name;
    // A folder's entry says what it is where the file system records it; else it is looked at.
    bool is_folder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat info;
      is_folder =
          ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
    }
    if (is_folder) {
      DeleteTreeAt(fd, entry->d_name, full, observer);
    } else {
      observer(full, false, ::unlinkat(fd, entry->d_name, 0) == 0);
    }
  }
}

// Everything below the folder name (opened through parent_fd, reported as path), depth first,
// then the folder itself.
bool DeleteTreeAt(int parent_fd, const char* name, const std::string& path,
                  const DeletionObserver& observer) {
  if (DIR* dir = OpenFolderNoFollow(parent_fd, name)) {
    DeleteEntries(dir, path, observer);
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

// The paths of the folders this process made and holds, so that calls on paths inside them go
// through their handles.
class HeldPaths {
 public:
  void Add(const std::shared_ptr<HeldDescriptor>& held) {
    std::lock_guard<std::mutex> lock(mutex_);
    by_path_.emplace(held->path, held);
  }

  void Remove(const HeldDescriptor* held) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto [first, last] = by_path_.equal_range(held->path);
    for (auto it = first; it != last; ++it) {
      if (it->second.get() == held) {
        by_path_.erase(it);
        return;
      }
    }
  }

  // The innermost held folder that path lies in (or is), with what follows its path in rest.
  std::shared_ptr<HeldDescriptor> Find(const std::string& path, std::string& rest) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (by_path_.empty()) return nullptr;
    size_t end = path.size();
    while (end > 0) {
      size_t trimmed = end;
      while (trimmed > 1 && path[trimmed - 1] == '/') --trimmed;
      auto found = by_path_.find(path.substr(0, trimmed));
      if (found != by_path_.end()) {
        rest = path.substr(end);
        return found->second;
      }
      size_t slash = path.rfind('/', end - 1);
      if (slash == std::string::npos) break;
      end = slash;
    }
    return nullptr;
  }

 private:
  mutable std::mutex mutex_;
  std::multimap<std::string, std::shared_ptr<HeldDescriptor>> by_path_;
};

class PosixHeldFolder : public HeldFolder {
 public:
  // follows_links: whether names inside are read through links, as paths outside the folders
  // held for their paths are.
  PosixHeldFolder(std::shared_ptr<HeldDescriptor> held, HeldPaths* registry, bool follows_links)
      : held_(std::move(held)), registry_(registry), follows_links_(follows_links) {
    if (registry_ != nullptr) registry_->Add(held_);
  }
  ~PosixHeldFolder() override {
    if (registry_ != nullptr) registry_->Remove(held_.get());
  }
  const std::string& Path() const override { return held_->path; }
  int NativeHandle() const override { return held_->fd.get(); }
  FileStatus Status() const override {
    struct stat info;
    return ::fstat(held_->fd.get(), &info) == 0 ? StatusOf(info) : FileStatus();
  }

  // Whether names inside may be read through links: false inside folders held for their
  // paths, and for any folder that is not ours to judge.
  static bool FollowsLinks(const HeldFolder& folder) {
    const auto* posix = dynamic_cast<const PosixHeldFolder*>(&folder);
    return posix != nullptr && posix->follows_links_ && posix->registry_ == nullptr;
  }

 private:
  std::shared_ptr<HeldDescriptor> held_;
  HeldPaths* registry_;  // null: not held for its paths
  bool follows_links_;
};

// Where name lies directly inside folder; an error for a name that is not one entry's.
Place PlaceIn(const HeldFolder& folder, const std::string& name) {
  Place place;
  place.folder_fd = folder.NativeHandle();
  place.name = name;
  place.inside = !PosixHeldFolder::FollowsLinks(folder);
  if (name.empty() || name.find('/') != std::string::npos) place.error = EINVAL;
  return place;
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Opens each folder of the relative path parts (all but the last) below place's folder, never
// through a link; the last part becomes place's name.
void Descend(std::string_view rest, Place& place) {
  std::vector<std::string_view> parts;
  for (size_t start = 0; start <= rest.size();) {
    size_t slash = rest.find('/', start);
    if (slash == std::string_view::npos) slash = rest.size();
    std::string_view part = rest.substr(start, slash - start);
    if (part == "..") {
      place.error = EACCES;
      return;
    }
    if (!part.empty() && part != ".") parts.push_back(part);
    start = slash + 1;
  }
  place.name = parts.empty() ? "." : std::string(parts.back());
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    int fd = ::openat(place.folder_fd, std::string(parts[i]).c_str(),
                      O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      place.error = errno;
      return;
    }
    place.sub_folder.Reset(fd);
    place.folder_fd = fd;
  }
}

mode_t FolderModeOf(FolderAccess access) {
  return access == FolderAccess::kPrivate ? 0700 : kFolderMode;
}

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<MappedFile> MapReadOnly(const std::string& path) override {
    struct stat info;
    UniqueFd fd;
    if (!OpenRegular(Locate(path), path, fd, info).ok()) return nullptr;
    size_t length = static_cast<size_t>(info.st_size);
    void* view =
        length > 0 ? ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd.get(), 0) : MAP_FAILED;
    if (view == MAP_FAILED) return nullptr;
    ::madvise(view, length, MADV_SEQUENTIAL);
    return std::make_unique<PosixMappedFile>(view, length);
  }

  IoStatus ReadWholeFile(const std::string& path, std::string& contents,
                         uint64_t max_size) override {
    return ReadPlaced(Locate(path), path, contents, max_size);
  }

  static IoStatus ReadPlaced(const Place& place, const std::string& path, std::string& contents,
                             uint64_t max_size) {
    contents.clear();
    struct stat info;
    UniqueFd fd;
    IoStatus opened = OpenRegular(place, path, fd, info);
    if (!opened.ok()) return opened;
    if (static_cast<uint64_t>(info.st_size) > max_size) return IoStatus::Error(EFBIG, path);
    contents.resize(static_cast<size_t>(info.st_size));
    contents.resize(ReadAll(fd.get(), contents.data(), contents.size()));
    return {};
  }

  IoStatus ReadWholeFileIn(const HeldFolder& folder, const std::string& name, std::string& contents,
                           uint64_t max_size) override {
    return ReadPlaced(PlaceIn(folder, name), folder.Path() + "/" + name, contents, max_size);
  }

  IoStatus WriteFile(const std::string& path, std::string_view data, WriteMode mode) override {
    Place place = Locate(path);
    if (place.error != 0) return IoStatus::Error(place.error, path);
    // Regular files only: a pipe blocks its writer forever (at open with no reader, else once
    // its buffer is full) and a device is nobody's document. Looked at before opening, so that a
    // device is never opened, and again on the opened file, in case one was swapped in.
    struct stat info;
    const char* name = place.name.c_str();
    int look = place.inside ? AT_SYMLINK_NOFOLLOW : 0;
    if (::fstatat(place.folder_fd, name, &info, look) == 0 && !S_ISREG(info.st_mode)) {
      return IoStatus::Error(NotRegularError(info.st_mode), path);
    }
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | place.NoFollow() |
                (mode == WriteMode::kExclusive ? O_EXCL
                 : mode == WriteMode::kAppend  ? O_APPEND
                                               : O_TRUNC);
    UniqueFd fd(::openat(place.folder_fd, name, flags, kFileMode));
    if (fd.get() < 0) return ErrnoStatus(path);
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
      return IoStatus::Error(NotRegularError(info.st_mode), path);
    }
    int error = WriteAll(fd.get(), data) ? 0 : (errno != 0 ? errno : EIO);
    if (::close(fd.Release()) != 0 && error == 0) error = errno;
    if (error == 0) return {};
    // What was there before an append is never thrown away.
    if (mode != WriteMode::kAppend) ::unlinkat(place.folder_fd, name, 0);
    return IoStatus::Error(error, path);
  }

  IoStatus MakeFolder(const std::string& path, FolderAccess access) override {
    Place place = Locate(path);
    if (place.error != 0) return IoStatus::Error(place.error, path);
    if (::mkdirat(place.folder_fd, place.name.c_str(), FolderModeOf(access)) != 0) {
      return ErrnoStatus(path);
    }
    return {};
  }

  IoStatus OpenFolder(const std::string& path, FollowLinks follow,
                      std::unique_ptr<HeldFolder>& folder) override {
    // Without its trailing '/': the kernel follows a link named with one.
    std::string trimmed = WithoutTrailingSlashes(path);
    Place place = Locate(trimmed);
    if (place.error != 0) return IoStatus::Error(place.error, path);
    int no_follow = place.inside || follow == FollowLinks::kNo ? O_NOFOLLOW : 0;
    return Hold(place.folder_fd, place.name, trimmed, no_follow, nullptr, !place.inside, folder);
  }

  IoStatus OpenFolderIn(const HeldFolder& parent, const std::string& name,
                        std::unique_ptr<HeldFolder>& folder) override {
    return Hold(parent.NativeHandle(), name, parent.Path() + "/" + name, O_NOFOLLOW, nullptr,
                PosixHeldFolder::FollowsLinks(parent), folder);
  }

  IoStatus MakeFolderIn(const HeldFolder& parent, const std::string& name, FolderAccess access,
                        std::unique_ptr<HeldFolder>& made) override {
    std::string path = parent.Path() + "/" + name;
    if (::mkdirat(parent.NativeHandle(), name.c_str(), FolderModeOf(access)) != 0) {
      return ErrnoStatus(path);
    }
    return Hold(parent.NativeHandle(), name, path, O_NOFOLLOW, &held_paths_, false, made);
  }

  IoStatus ListFolder(const std::string& path, std::vector<FolderEntry>& entries) override {
    Place place = Locate(path);
    if (place.error != 0) return IoStatus::Error(place.error, path);
    int fd = ::openat(place.folder_fd, place.name.c_str(),
                      O_RDONLY | O_DIRECTORY | O_CLOEXEC | place.NoFollow());
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (dir == nullptr) {
      IoStatus failed = ErrnoStatus(path);
      if (fd >= 0) ::close(fd);
      return failed;
    }
    while (struct dirent* entry = ::readdir(dir)) {
      if (IsDotEntry(entry->d_name)) continue;
      // The folder's own record of the type where the file system keeps one: a folder of ten
      // thousand decoded parts is listed without a call per file.
      FileType type = TypeOfEntry(entry->d_type);
      struct stat info;
      if (type == FileType::kNone) {
        type = ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 ? TypeOf(info.st_mode)
                                                                             : FileType::kNone;
      }
      entries.push_back(FolderEntry{entry->d_name, type});
    }
    ::closedir(dir);
    return {};
  }

  FileStatus Status(const std::string& path, FollowLinks follow) override {
    return StatusPlaced(Locate(path), follow);
  }

  static FileStatus StatusPlaced(const Place& place, FollowLinks follow) {
    if (place.error != 0) return FileStatus();
    struct stat info;
    int flags = place.inside || follow == FollowLinks::kNo ? AT_SYMLINK_NOFOLLOW : 0;
    return ::fstatat(place.folder_fd, place.name.c_str(), &info, flags) == 0 ? StatusOf(info)
                                                                             : FileStatus();
  }

  FileStatus StatusIn(const HeldFolder& folder, const std::string& name,
                      FollowLinks follow) override {
    return StatusPlaced(PlaceIn(folder, name), follow);
  }

  bool IsExecutableFile(const std::string& path) override {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
  }

  IoStatus DeleteFile(const std::string& path) override {
    Place place = Locate(path);
    if (place.error != 0) return IoStatus::Error(place.error, path);
    if (::unlinkat(place.folder_fd, place.name.c_str(), 0) != 0) return ErrnoStatus(path);
    return {};
  }

  IoStatus DeleteTree(const std::string& folder, const DeletionObserver& observer) override {
    Place place = Locate(folder);
    DIR* dir = place.error == 0 ? OpenFolderNoFollow(place.folder_fd, place.name.c_str()) : nullptr;
    if (dir != nullptr) {
      DeleteEntries(dir, folder, observer);
      ::closedir(dir);
    }
    IoStatus removed = RemoveFolder(place, folder);
    observer(folder, true, removed.ok());
    return removed;
  }

  IoStatus DeleteFolderFiles(const std::string& folder, const DeletionObserver& observer) override {
    Place place = Locate(folder);
    if (place.error != 0) return IoStatus::Error(place.error, folder);
    DIR* dir = OpenFolderNoFollow(place.folder_fd, place.name.c_str());
    if (dir == nullptr) return ErrnoStatus(folder);
    int fd = ::dirfd(dir);
    while (struct dirent* entry = ::readdir(dir)) {
      if (IsDotEntry(entry->d_name)) continue;
      observer(folder + "/" + entry->d_name, false, ::unlinkat(fd, entry->d_name, 0) == 0);
    }
    ::closedir(dir);
    IoStatus removed = RemoveFolder(place, folder);
    observer(folder, true, removed.ok());
    return removed;
  }

  IoStatus CopyFile(const std::string& from, const std::string& to) override {
    struct stat info;
    UniqueFd in;
    IoStatus opened = OpenRegular(Locate(from), from, in, info);
    if (!opened.ok()) return opened;
    Place target = Locate(to);
    if (target.error != 0) return IoStatus::Error(target.error, to);
    UniqueFd out(::openat(target.folder_fd, target.name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode));
    if (out.get() < 0) return ErrnoStatus(to);
    int error = CopyAll(in.get(), out.get());
    if (::close(out.Release()) != 0 && error == 0) error = errno;
    if (error == 0) return {};
    ::unlinkat(target.folder_fd, target.name.c_str(), 0);
    return IoStatus::Error(error, to);
  }

  IoStatus MoveFile(const std::string& from, const std::string& to) override {
    Place source = Locate(from);
    Place target = Locate(to);
    if (source.error != 0) return IoStatus::Error(source.error, from);
    if (target.error != 0) return IoStatus::Error(target.error, to);
    if (::renameat2(source.folder_fd, source.name.c_str(), target.folder_fd, target.name.c_str(),
                    RENAME_NOREPLACE) == 0) {
      return {};
    }
    // File systems without the no-replace rename: a hard link fails on an existing name just
    // the same, and the old name then goes.
    if (errno != EINVAL && errno != ENOSYS) return ErrnoStatus(to);
    if (::linkat(source.folder_fd, source.name.c_str(), target.folder_fd, target.name.c_str(), 0) !=
        0) {
      return ErrnoStatus(to);
    }
    ::unlinkat(source.folder_fd, source.name.c_str(), 0);
    return {};
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
      case KnownFolder::kTemp:
        return TempFolder();
    }
    return {};
  }

 private:
  static int NotRegularError(mode_t mode) {
    if (S_ISDIR(mode)) return EISDIR;
    return S_ISLNK(mode) ? ELOOP : EINVAL;
  }

  // Reads in until its end and writes everything to out; 0, or the error that stopped it.
  static int CopyAll(int in, int out) {
    char buffer[65536];
    for (;;) {
      ssize_t got = ::read(in, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return errno;
      if (got == 0) return 0;
      if (!WriteAll(out, std::string_view(buffer, static_cast<size_t>(got)))) {
        return errno != 0 ? errno : EIO;
      }
    }
  }

  static std::string TempFolder() {
    const std::string own = "orvohttps-" + std::to_string(::getuid());
    for (const char* variable : {"TMPDIR", "XDG_RUNTIME_DIR"}) {
      std::optional<std::string> value = EnvironmentVariable(variable);
      if (!value || value->empty()) continue;
      std::string folder = WithoutTrailingSlashes(*value);
      // TMPDIR=/tmp is a common setting: a shared folder whose sticky bit keeps others from
      // renaming what is made in it holds a folder of this user's own, as /tmp does when nothing
      // is set. Any other folder others may write to stays refused by the caller's check.
      struct stat info;
      if (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
          (info.st_mode & S_ISVTX) != 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return folder + "/" + own;
      }
      return folder;
    }
    return "/tmp/" + own;
  }

  Place Locate(const std::string& path) const {
    Place place;
    std::string rest;
    place.held = held_paths_.Find(path, rest);
    if (place.held == nullptr) {
      place.name = path;
      return place;
    }
    place.inside = true;
    place.folder_fd = place.held->fd.get();
    Descend(rest, place);
    return place;
  }

  // Opens name in folder_fd as a folder (no_follow: O_NOFOLLOW or 0) and hands out its handle;
  // registry null: not held for paths. A folder made for this process must be its user's.
  IoStatus Hold(int folder_fd, const std::string& name, const std::string& path, int no_follow,
                HeldPaths* registry, bool follows_links, std::unique_ptr<HeldFolder>& folder) {
    auto held = std::make_shared<HeldDescriptor>();
    held->fd.Reset(
        ::openat(folder_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | no_follow));
    if (held->fd.get() < 0) return ErrnoStatus(path);
    struct stat info;
    if (registry != nullptr &&
        (::fstat(held->fd.get(), &info) != 0 || info.st_uid != ::geteuid())) {
      return IoStatus::Error(EPERM, path);
    }
    held->path = path;
    folder = std::make_unique<PosixHeldFolder>(std::move(held), registry, follows_links);
    return {};
  }

  // Removes the folder place names. A held folder itself goes by its path, and only while that
  // path still names it: a link or another folder put in its place stays.
  static IoStatus RemoveFolder(const Place& place, const std::string& path) {
    if (place.error != 0) return IoStatus::Error(place.error, path);
    if (place.inside && place.name == ".") {
      struct stat held;
      struct stat named;
      if (::fstat(place.held->fd.get(), &held) != 0) return ErrnoStatus(path);
      if (::lstat(place.held->path.c_str(), &named) != 0) return ErrnoStatus(path);
      if (named.st_dev != held.st_dev || named.st_ino != held.st_ino) {
        return IoStatus::Error(ENOENT, path);
      }
      if (::rmdir(place.held->path.c_str()) != 0) return ErrnoStatus(path);
      return {};
    }
    if (::unlinkat(place.folder_fd, place.name.c_str(), AT_REMOVEDIR) != 0) {
      return ErrnoStatus(path);
    }
    return {};
  }

  HeldPaths held_paths_;
};

std::atomic<FileSystem*> g_replacement{nullptr};

}  // namespace

bool IoStatus::AlreadyExists() const { return error_number_ == EEXIST; }

std::string IoStatus::ToString() const {
  if (ok()) return "OK";
  char buffer[256];
  return path_ + ": " + ::strerror_r(error_number_, buffer, sizeof buffer);
}

std::string EditorDataFolder() {
  return FileSystem::Default().KnownFolderPath(KnownFolder::kEditorData);
}

FileSystem& FileSystem::Default() {
  static PosixFileSystem* const file_system = new PosixFileSystem;
  FileSystem* replacement = g_replacement.load(std::memory_order_acquire);
  return replacement != nullptr ? *replacement : *file_system;
}

void SetDefaultFileSystemForTesting(FileSystem* file_system) {
  g_replacement.store(file_system, std::memory_order_release);
}
