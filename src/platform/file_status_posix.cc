#include <sys/stat.h>

#include "platform/file_status.h"

FileStatus QueryFileStatus(const std::string& path) {
  FileStatus status;
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return status;
  status.exists = true;
  status.size = static_cast<uint64_t>(info.st_size);
  status.modified_ns =
      static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return status;
}
