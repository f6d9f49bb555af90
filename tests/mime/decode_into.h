#ifndef ORVO_TESTS_MIME_DECODE_INTO_H_
#define ORVO_TESTS_MIME_DECODE_INTO_H_

#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <string>
#include <string_view>

#include "archive_decoder.h"

// The component's decode into the folder at path, opened for the call; batch_parts as
// DecodeArchive takes it. Given handed, the files the decode hands over as it writes them.
inline bool DecodeInto(std::string_view archive, const std::string& folder, size_t batch_parts = 0,
                       std::map<std::string, std::string>* handed = nullptr) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  mimecodec::WrittenFileSink sink;
  if (handed != nullptr) {
    sink = [handed](const std::string& name, std::string_view bytes) {
      handed->emplace(name, bytes);
    };
  }
  bool written = mimecodec::DecodeArchive(archive, fd, batch_parts, sink);
  if (fd >= 0) ::close(fd);
  return written;
}

#endif  // ORVO_TESTS_MIME_DECODE_INTO_H_
