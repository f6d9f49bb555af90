#ifndef ORVO_TESTS_MIME_DECODE_INTO_H_
#define ORVO_TESTS_MIME_DECODE_INTO_H_

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "archive_decoder.h"

// The component's decode into the folder at path, opened for the call; batch_parts as
// DecodeArchive takes it. Given handed, the files the decode hands over as it writes them;
// given placed, the base64 text in archive that it names for each file, and the file's size.
inline bool DecodeInto(std::string_view archive, const std::string& folder, size_t batch_parts = 0,
                       std::map<std::string, std::string>* handed = nullptr,
                       std::map<std::string, std::pair<std::string, uint64_t>>* placed = nullptr) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  mimecodec::WrittenFileSink sink;
  if (handed != nullptr) {
    sink = [handed](const std::string& name, std::string_view bytes) {
      handed->emplace(name, bytes);
    };
  }
  mimecodec::EncodedFileSink encoded;
  if (placed != nullptr) {
    encoded = [placed, archive](const std::string& name, size_t offset, size_t length,
                                uint64_t size) {
      placed->emplace(name, std::make_pair(std::string(archive.substr(offset, length)), size));
    };
  }
  bool written = mimecodec::DecodeArchive(archive, fd, batch_parts, sink, encoded);
  if (fd >= 0) ::close(fd);
  return written;
}

#endif  // ORVO_TESTS_MIME_DECODE_INTO_H_
