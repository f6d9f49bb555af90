#ifndef ORVO_TESTS_SUPPORT_FAILING_FILE_SYSTEM_H_
#define ORVO_TESTS_SUPPORT_FAILING_FILE_SYSTEM_H_

// A file system whose calls of one kind fail with a chosen error, as a full disk or a revoked
// permission would; every other call reaches the platform's. It stands in for
// FileSystem::Default() while it lives.

#include "platform/file_system.h"
#include "platform/file_system_wrapper.h"

namespace scratch {

class FailingFileSystem : public FileSystemWrapper {
 public:
  enum class Call { kNone, kWriteFile };

  FailingFileSystem(Call call, int error)
      : FileSystemWrapper(FileSystem::Default()), call_(call), error_(error) {
    SetDefaultFileSystemForTesting(this);
  }
  ~FailingFileSystem() override { SetDefaultFileSystemForTesting(nullptr); }

  IoStatus WriteFile(const std::string& path, std::string_view data, WriteMode mode) override {
    if (call_ == Call::kWriteFile) return IoStatus::Error(error_, path);
    return FileSystemWrapper::WriteFile(path, data, mode);
  }

 private:
  Call call_;
  int error_;
};

}  // namespace scratch

#endif  // ORVO_TESTS_SUPPORT_FAILING_FILE_SYSTEM_H_
