#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_system.h"

namespace {

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

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<MappedFile> MapReadOnly(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
      ::close(fd);
      return nullptr;
    }
    size_t length = static_cast<size_t>(info.st_size);
    void* view = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (view == MAP_FAILED) return nullptr;
    ::madvise(view, length, MADV_SEQUENTIAL);
    return std::make_unique<PosixMappedFile>(view, length);
  }
};

}  // namespace

FileSystem& FileSystem::Default() {
  static PosixFileSystem file_system;
  return file_system;
}
