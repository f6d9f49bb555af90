#ifndef ORVO_TESTS_SUPPORT_SCRATCH_FOLDER_H_
#define ORVO_TESTS_SUPPORT_SCRATCH_FOLDER_H_

// Test utilities: a fresh folder that is removed afterwards, small file utilities, and a capture
// of the service's log lines (standard output).

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// The log's writer thread (platform/log.h) writes on its own time; where it is linked, Text()
// waits for the lines logged before it.
void FlushLog() __attribute__((weak));

namespace scratch {

// A new empty folder under the system temp folder; removed with everything in it (links are
// removed, not followed) when the object goes.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/orvo-test-XXXXXX";
    char* made = ::mkdtemp(pattern.data());
    path_ = made != nullptr ? made : "";
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  std::string operator/(const std::string& name) const { return Path(name); }

 private:
  std::string path_;
};

// Sets (or removes) an environment variable for the lifetime of the object, then restores it (or
// removes it when it was not set).
class EnvOverride {
 public:
  EnvOverride(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  // Removes the variable for the lifetime of the object.
  explicit EnvOverride(const char* name) : EnvOverride(name, "") { ::unsetenv(name); }
  ~EnvOverride() {
    if (had_old_) {
      ::setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

 private:
  std::string name_;
  bool had_old_ = false;
  std::string old_;
};

// Points TMPDIR at a folder for the lifetime of the object, so the workspace's system temp
// folder is a private one.
class TempDirOverride : public EnvOverride {
 public:
  explicit TempDirOverride(const std::string& folder) : EnvOverride("TMPDIR", folder) {}
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline bool Exists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

// How many entries a folder holds; 0 when it does not exist.
inline int CountEntries(const std::string& folder) {
  std::error_code error;
  int count = 0;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    ++count;
  }
  return count;
}

// A 1x1 PNG (one opaque red pixel).
inline std::string TinyPng() {
  static const unsigned char kPng[] = {
      0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
      0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00,
      0x00, 0x90, 0x77, 0x53, 0xDE, 0x00, 0x00, 0x00, 0x0C, 0x49, 0x44, 0x41, 0x54, 0x78,
      0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0xC9, 0xFE, 0x92,
      0xEF, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
  return std::string(reinterpret_cast<const char*>(kPng), sizeof kPng);
}

// Collects what the process writes to standard output between construction and Text().
class StdoutCapture {
 public:
  StdoutCapture() {
    std::fflush(stdout);
    std::string name = std::filesystem::temp_directory_path().string() + "/orvo-capture-XXXXXX";
    fd_ = ::mkstemp(name.data());
    ::unlink(name.c_str());
    saved_ = ::dup(STDOUT_FILENO);
    ::dup2(fd_, STDOUT_FILENO);
  }
  ~StdoutCapture() { Restore(); }

  std::string Text() {
    Restore();
    std::string text;
    ::lseek(fd_, 0, SEEK_SET);
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd_, buffer, sizeof buffer)) > 0) text.append(buffer, got);
    return text;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    if (FlushLog != nullptr) FlushLog();
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    saved_ = -1;
  }
  int fd_ = -1;
  int saved_ = -1;
};

}  // namespace scratch

#endif  // ORVO_TESTS_SUPPORT_SCRATCH_FOLDER_H_
