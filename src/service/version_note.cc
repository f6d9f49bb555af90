// Stamps the project's four-part version into the executable as an ELF note, where the
// version command reads it back from the file (as it would read a Windows version resource).
#include <cstdint>

namespace {

struct VersionNote {
  uint32_t namesz;
  uint32_t descsz;
  uint32_t type;
  char name[12];  // "OrvoHTTPS" and its zero, padded to four bytes.
  uint32_t desc[4];
};

__attribute__((used, section(".note.orvohttps.version"), aligned(4)))
const VersionNote kVersionNote = {
    10,
    16,
    1,
    "OrvoHTTPS",
    {ORVO_VERSION_MAJOR, ORVO_VERSION_MINOR, ORVO_VERSION_PATCH, ORVO_VERSION_TWEAK}};

}  // namespace
