#ifndef ORVO_PLATFORM_FILE_STATUS_H_
#define ORVO_PLATFORM_FILE_STATUS_H_

#include <cstdint>
#include <string>

// What the file system says about one path, links followed.
struct FileStatus {
  bool exists = false;
  uint64_t size = 0;
  int64_t modified_ns = 0;  // last modification, nanoseconds since the epoch, as stored

  bool operator==(const FileStatus& other) const {
    return exists == other.exists && size == other.size && modified_ns == other.modified_ns;
  }
  bool operator!=(const FileStatus& other) const { return !(*this == other); }
};

// The status of path; exists is false (and the rest 0) when nothing can be found there.
// Thread-safe.
FileStatus QueryFileStatus(const std::string& path);

#endif  // ORVO_PLATFORM_FILE_STATUS_H_
