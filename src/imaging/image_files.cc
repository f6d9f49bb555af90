#include <cstdint>

#include "imaging/image_decoder.h"
#include "imaging/image_signature.h"
#include "platform/file_system.h"

namespace {

// No picture we accept comes near this; a larger file is refused before it is read.
constexpr uint64_t kMaxInputBytes = uint64_t{1} << 30;

// The file header (14 bytes) and the size fields of the info header that follows it.
constexpr size_t kBmpHeadersBytes = 26;

}  // namespace

DecodableFormat DetectDecodableFormat(std::string_view bytes) {
  switch (SignatureOf(bytes)) {
    case ImageSignature::kPng:
      return DecodableFormat::kPng;
    case ImageSignature::kJpeg:
      return DecodableFormat::kJpeg;
    case ImageSignature::kGif:
      return DecodableFormat::kGif;
    case ImageSignature::kBmp:
      // Shorter than its two headers' fixed part, the coder reads past the bytes it was given.
      return bytes.size() >= kBmpHeadersBytes ? DecodableFormat::kBmp : DecodableFormat::kNone;
    case ImageSignature::kTiff:
      return DecodableFormat::kTiff;
    case ImageSignature::kRiff:
      return DecodableFormat::kWebp;  // another RIFF form fails in the WebP coder
    case ImageSignature::kEmf:
      return DecodableFormat::kEmf;
    case ImageSignature::kNone:
      break;
  }
  return DecodableFormat::kNone;
}

bool ReadFileBytes(const std::string& path, std::string* bytes) {
  return FileSystem::Default().ReadWholeFile(path, *bytes, kMaxInputBytes).ok();
}

bool WriteFileOnce(const std::string& path, std::string_view bytes) {
  return FileSystem::Default().WriteFile(path, bytes, WriteMode::kTruncate).ok();
}
