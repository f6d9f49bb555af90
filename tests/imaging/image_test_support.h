#ifndef ORVO_TESTS_IMAGING_IMAGE_TEST_SUPPORT_H_
#define ORVO_TESTS_IMAGING_IMAGE_TEST_SUPPORT_H_

#include <cstdint>
#include <string>

#include "support/scratch_folder.h"

using scratch::Exists;
using scratch::ScratchFolder;

// Little-endian writers for building binary fixtures byte by byte.
inline void Put16(std::string* s, uint16_t v) {
  s->push_back(static_cast<char>(v & 0xFF));
  s->push_back(static_cast<char>(v >> 8));
}
inline void Put32(std::string* s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

#endif  // ORVO_TESTS_IMAGING_IMAGE_TEST_SUPPORT_H_
