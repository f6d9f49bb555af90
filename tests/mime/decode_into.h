#ifndef ORVO_TESTS_MIME_DECODE_INTO_H_
#define ORVO_TESTS_MIME_DECODE_INTO_H_

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "archive_decoder.h"

// The component's decode into the folder at path, opened for the call; batch_parts as
// DecodeArchive takes it.
inline bool DecodeInto(std::string_view archive, const std::string& folder,
                       size_t batch_parts = 0) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool written = mimecodec::DecodeArchive(archive, fd, batch_parts);
  if (fd >= 0) ::close(fd);
  return written;
}

#endif  // ORVO_TESTS_MIME_DECODE_INTO_H_
