#ifndef ORVO_PLATFORM_FILE_SYSTEM_WRAPPER_H_
#define ORVO_PLATFORM_FILE_SYSTEM_WRAPPER_H_

#include "platform/file_system.h"

// A FileSystem that hands every call to another one. Derive from it and override the calls to
// change (to make writes fail as on a full disk, say); the rest behave as target's. target must
// outlive the wrapper. Thread-safe as far as target is.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem& target) : target_(target) {}

  FileSystem& target() const { return target_; }

  std::unique_ptr<MappedFile> MapReadOnly(const std::string& path) override {
    return target_.MapReadOnly(path);
  }
  IoStatus ReadWholeFile(const std::string& path, std::string& contents,
                         uint64_t max_size) override {
    return target_.ReadWholeFile(path, contents, max_size);
  }
  IoStatus WriteFile(const std::string& path, std::string_view data, WriteMode mode) override {
    return target_.WriteFile(path, data, mode);
  }
  IoStatus MakeFolder(const std::string& path, FolderAccess access) override {
    return target_.MakeFolder(path, access);
  }
  IoStatus OpenFolder(const std::string& path, FollowLinks follow,
                      std::unique_ptr<HeldFolder>& folder) override {
    return target_.OpenFolder(path, follow, folder);
  }
  IoStatus OpenFolderIn(const HeldFolder& parent, const std::string& name,
                        std::unique_ptr<HeldFolder>& folder) override {
    return target_.OpenFolderIn(parent, name, folder);
  }
  IoStatus MakeFolderIn(const HeldFolder& parent, const std::string& name, FolderAccess access,
                        std::unique_ptr<HeldFolder>& made) override {
    return target_.MakeFolderIn(parent, name, access, made);
  }
  IoStatus ListFolder(const std::string& path, std::vector<FolderEntry>& entries) override {
    return target_.ListFolder(path, entries);
  }
  FileStatus Status(const std::string& path, FollowLinks follow) override {
    return target_.Status(path, follow);
  }
  FileStatus StatusIn(const HeldFolder& folder, const std::string& name,
                      FollowLinks follow) override {
    return target_.StatusIn(folder, name, follow);
  }
  IoStatus ReadWholeFileIn(const HeldFolder& folder, const std::string& name, std::string& contents,
                           uint64_t max_size) override {
    return target_.ReadWholeFileIn(folder, name, contents, max_size);
  }
  bool IsExecutableFile(const std::string& path) override { return target_.IsExecutableFile(path); }
  IoStatus DeleteFile(const std::string& path) override { return target_.DeleteFile(path); }
  IoStatus DeleteTree(const std::string& folder, const DeletionObserver& observer) override {
    return target_.DeleteTree(folder, observer);
  }
  IoStatus DeleteFolderFiles(const std::string& folder, const DeletionObserver& observer) override {
    return target_.DeleteFolderFiles(folder, observer);
  }
  IoStatus CopyFile(const std::string& from, const std::string& to) override {
    return target_.CopyFile(from, to);
  }
  IoStatus MoveFile(const std::string& from, const std::string& to) override {
    return target_.MoveFile(from, to);
  }
  std::string KnownFolderPath(KnownFolder folder) override {
    return target_.KnownFolderPath(folder);
  }

 private:
  FileSystem& target_;
};

#endif  // ORVO_PLATFORM_FILE_SYSTEM_WRAPPER_H_
