#include "workspace/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "workspace/temp_workspace.h"

namespace {

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Standard alphabet; other characters (line breaks) are skipped; the first '=' ends the data.
std::string Base64Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  uint32_t bits = 0;
  int count = 0;
  for (unsigned char c : text) {
    if (c == '=') break;
    int value = Base64Value(c);
    if (value < 0) continue;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

// Text mode as the C runtime writes it: every line feed becomes carriage return, line feed.
std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& contents) {
  contents.clear();
  // O_NONBLOCK: opening a pipe must not wait for a writer; it is refused below anyway.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
    ::close(fd);
    return false;
  }
  contents.resize(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (done < contents.size()) {
    ssize_t got = ::read(fd, contents.data() + done, contents.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  ::close(fd);
  // A file that shrank while it was read is reported as it was found.
  contents.resize(done);
  if (done == 0) return false;
  return true;
}

bool WriteDataFile(const std::string& path, std::string_view data, DataEncoding encoding) {
  if (path.empty()) return false;
  std::string bytes = encoding == DataEncoding::kBase64 && !data.empty() ? Base64Decode(data)
                                                                          : WithCrLf(data);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool written = WriteAll(fd, bytes.data(), bytes.size());
  return ::close(fd) == 0 && written;
}

bool WriteDataFile(const TempWorkspace& workspace, std::string_view data,
                   DataEncoding encoding) {
  return WriteDataFile(workspace.DocumentPath(), data, encoding);
}
