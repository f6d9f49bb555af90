#include <cstdint>

#include "imaging/image_decoder.h"
#include "imaging/metafile.h"

namespace {

constexpr uint32_t kEmrHeader = 1;
constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr size_t kMinHeaderSize = 88;           // up to and including szlMillimeters

uint32_t U32(std::string_view b, size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(b.data()) + at;
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

int32_t I32(std::string_view b, size_t at) { return static_cast<int32_t>(U32(b, at)); }

ImageRect RectAt(std::string_view b, size_t at) {
  return ImageRect{I32(b, at), I32(b, at + 4), I32(b, at + 8), I32(b, at + 12)};
}

}  // namespace

bool ParseEmfHeader(std::string_view bytes, EmfHeader* header) {
  if (bytes.size() < kMinHeaderSize || U32(bytes, 0) != kEmrHeader ||
      U32(bytes, 40) != kEmfSignature) {
    return false;
  }
  uint32_t size = U32(bytes, 4);
  if (size < kMinHeaderSize || size > bytes.size()) return false;
  header->bounds = RectAt(bytes, 8);
  header->frame = RectAt(bytes, 24);
  header->device_width = I32(bytes, 72);
  header->device_height = I32(bytes, 76);
  header->millimeters_width = I32(bytes, 80);
  header->millimeters_height = I32(bytes, 84);
  return true;
}

bool ReadEmfHeader(const std::string& path, EmfHeader* header) {
  std::string bytes;
  return ReadFileBytes(path, &bytes) && ParseEmfHeader(bytes, header);
}
