#ifndef ORVO_TESTS_SUPPORT_EXECUTABLE_IMAGES_H_
#define ORVO_TESTS_SUPPORT_EXECUTABLE_IMAGES_H_

// Small executable files made byte by byte, for the file-version reader.

#include <cstdint>
#include <string>

namespace testing_images {

// A minimal PE32+ file with one ".rsrc" section holding an RT_VERSION resource whose fixed
// file information carries the version a.b.c.d. With with_version false the resource tree
// holds only an RT_ICON entry.
std::string MakePeWithVersion(uint16_t a, uint16_t b, uint16_t c, uint16_t d,
                              bool with_version = true);

// A minimal ELF64 file with one note section. The note has the given name and type and four
// 32-bit numbers as its description.
std::string MakeElfWithNote(const std::string& note_name, uint32_t type, uint32_t a, uint32_t b,
                            uint32_t c, uint32_t d);

// Writes bytes to path; returns false on failure.
bool WriteBytes(const std::string& path, const std::string& bytes);

}  // namespace testing_images

#endif  // ORVO_TESTS_SUPPORT_EXECUTABLE_IMAGES_H_
