#include "imaging/image_decoder.h"

#include <Magick++.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "imaging/image_utils.h"
#include "platform/file_system.h"

namespace {

// No picture we accept comes near this; a larger file is refused before it is read.
constexpr uint64_t kMaxInputBytes = uint64_t{1} << 30;

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() && bytes.compare(0, prefix.size(), prefix) == 0;
}

uint32_t LittleEndian32(std::string_view bytes, size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

const char* CoderName(DecodableFormat format) {
  switch (format) {
    case DecodableFormat::kBmp:
      return "BMP";
    case DecodableFormat::kJpeg:
      return "JPEG";
    case DecodableFormat::kGif:
      return "GIF";
    case DecodableFormat::kPng:
      return "PNG";
    case DecodableFormat::kTiff:
      return "TIFF";
    case DecodableFormat::kWebp:
      return "WEBP";
    default:
      return nullptr;
  }
}

}  // namespace

DecodableFormat DetectDecodableFormat(std::string_view bytes) {
  if (StartsWith(bytes, "\x89PNG\r\n\x1a\n")) return DecodableFormat::kPng;
  if (StartsWith(bytes, "\xFF\xD8\xFF")) return DecodableFormat::kJpeg;
  if (StartsWith(bytes, "GIF87a") || StartsWith(bytes, "GIF89a")) return DecodableFormat::kGif;
  if (StartsWith(bytes, "BM") && bytes.size() >= 26) return DecodableFormat::kBmp;
  if (StartsWith(bytes, std::string_view("II*\0", 4)) ||
      StartsWith(bytes, std::string_view("MM\0*", 4))) {
    return DecodableFormat::kTiff;
  }
  if (StartsWith(bytes, "RIFF") && bytes.size() >= 12 && bytes.compare(8, 4, "WEBP") == 0) {
    return DecodableFormat::kWebp;
  }
  // EMR_HEADER record type 1, then the " EMF" signature at offset 40.
  if (bytes.size() >= 88 && LittleEndian32(bytes, 0) == 1 &&
      LittleEndian32(bytes, 40) == 0x464D4520) {
    return DecodableFormat::kEmf;
  }
  return DecodableFormat::kNone;
}

bool ReadFileBytes(const std::string& path, std::string* bytes) {
  return FileSystem::Default().ReadWholeFile(path, *bytes, kMaxInputBytes).ok();
}

namespace {

enum class ReadMode { kPixels, kHeaderOnly };

// Decodes a blob whose leading bytes are `head` (at least its first 88 bytes, when it has them).
bool DecodeBlob(std::string_view head, const Magick::Blob& blob, ReadMode mode,
                Magick::Image* image) {
  const char* coder = CoderName(DetectDecodableFormat(head));
  if (coder == nullptr) return false;
  try {
    image->subRange(1);  // Only the first frame of a GIF or TIFF.
    image->magick(coder);
    if (mode == ReadMode::kPixels) {
      image->read(blob);
    } else {
      image->ping(blob);
    }
  } catch (const Magick::WarningCorruptImage&) {
    // Truncated data: the library filled the rest in; that is not the picture. A header-only
    // read always ends early (a progressive JPEG's reader looks past its first scan header), so
    // there only the size it read counts.
    if (mode == ReadMode::kPixels) return false;
  } catch (const Magick::Warning&) {
    // Other warnings (an unknown TIFF tag, a colour profile) leave a sound picture.
  } catch (const Magick::Exception&) {
    return false;
  } catch (const std::exception&) {
    return false;
  }
  long long pixels = static_cast<long long>(image->columns()) * image->rows();
  return pixels > 0 && pixels <= kMaxImagePixels;
}

}  // namespace

bool DecodeRasterImage(std::string_view bytes, Magick::Image* image) {
  if (DetectDecodableFormat(bytes) == DecodableFormat::kNone) return false;
  Magick::Blob blob(bytes.data(), bytes.size());
  return DecodeBlob(bytes, blob, ReadMode::kPixels, image);
}

bool PingRasterImage(std::string_view header, Magick::Image* image) {
  if (DetectDecodableFormat(header) == DecodableFormat::kNone) return false;
  Magick::Blob blob(header.data(), header.size());
  return DecodeBlob(header, blob, ReadMode::kHeaderOnly, image);
}

bool DecodeRasterFile(const std::string& path, Magick::Image* image) {
  std::string bytes;
  if (!ReadFileBytes(path, &bytes) || bytes.empty()) return false;
  Magick::Blob blob(bytes.data(), bytes.size());
  return DecodeBlob(std::string_view(bytes).substr(0, 128), blob, ReadMode::kPixels, image);
}

bool WriteFileOnce(const std::string& path, std::string_view bytes) {
  return FileSystem::Default().WriteFile(path, bytes, WriteMode::kTruncate).ok();
}
