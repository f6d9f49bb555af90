#ifndef ORVO_PLATFORM_FILE_SYSTEM_H_
#define ORVO_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <memory>
#include <string>

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

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  static FileSystem& Default();
  // Maps the regular file at path read-only. Null for a missing, unreadable, non-regular or
  // empty file. Opening never waits (a pipe is refused, not opened for reading).
  virtual std::unique_ptr<MappedFile> MapReadOnly(const std::string& path) = 0;
};

#endif  // ORVO_PLATFORM_FILE_SYSTEM_H_
