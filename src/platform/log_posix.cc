#include "platform/log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

std::mutex& LogMutex() {
  static std::mutex mutex;
  return mutex;
}

void WriteAll(const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = ::write(STDOUT_FILENO, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;  // Nowhere to report a broken output; the service keeps working.
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
}

}  // namespace

void Log(const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int needed = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (needed < 0) {
    va_end(again);
    return;
  }
  std::string large;
  const char* text = small;
  if (static_cast<size_t>(needed) >= sizeof small) {
    large.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    text = large.data();
  }
  va_end(again);
  // Unbuffered write(2): nothing sits in a stdio buffer, so each line is flushed as written.
  std::lock_guard<std::mutex> lock(LogMutex());
  WriteAll(text, static_cast<size_t>(needed));
}
