#ifndef ORVO_TESTS_SUPPORT_FAILING_FILE_SYSTEM_H_
#define ORVO_TESTS_SUPPORT_FAILING_FILE_SYSTEM_H_

// A file system whose calls of one kind fail with a chosen error, as a full disk or a revoked
// permission would, for every path or only for paths that end in a given text; every other call
// reaches the platform's. It stands in for FileSystem::Default() while it lives.

#include <memory>
#include <string>
#include <utility>

#include "platform/file_system.h"
#include "platform/file_system_wrapper.h"

namespace scratch {

class FailingFileSystem : public FileSystemWrapper {
 public:
  enum class Call { kNone, kWriteFile, kRead };  // kRead: whole reads and mappings

  FailingFileSystem(Call call, int error, std::string path_end = "")
      : FileSystemWrapper(FileSystem::Default()),
        call_(call),
        error_(error),
        path_end_(std::move(path_end)) {
    SetDefaultFileSystemForTesting(this);
  }
  ~FailingFileSystem() override { SetDefaultFileSystemForTesting(nullptr); }

  IoStatus WriteFile(const std::string& path, std::string_view data, WriteMode mode) override {
    if (Fails(Call::kWriteFile, path)) return IoStatus::Error(error_, path);
    return FileSystemWrapper::WriteFile(path, data, mode);
  }
  IoStatus ReadWholeFile(const std::string& path, std::string& contents,
                         uint64_t max_size) override {
    if (Fails(Call::kRead, path)) return IoStatus::Error(error_, path);
    return FileSystemWrapper::ReadWholeFile(path, contents, max_size);
  }
  IoStatus ReadWholeFileIn(const HeldFolder& folder, const std::string& name, std::string& contents,
                           uint64_t max_size) override {
    if (Fails(Call::kRead, folder.Path() + "/" + name)) return IoStatus::Error(error_, name);
    return FileSystemWrapper::ReadWholeFileIn(folder, name, contents, max_size);
  }
  std::unique_ptr<MappedFile> MapReadOnly(const std::string& path) override {
    if (Fails(Call::kRead, path)) return nullptr;
    return FileSystemWrapper::MapReadOnly(path);
  }

 private:
  bool Fails(Call call, const std::string& path) const {
    return call_ == call && path.size() >= path_end_.size() &&
           path.compare(path.size() - path_end_.size(), path_end_.size(), path_end_) == 0;
  }
  Call call_;
  int error_;
  std::string path_end_;
};

}  // namespace scratch

#endif  // ORVO_TESTS_SUPPORT_FAILING_FILE_SYSTEM_H_
