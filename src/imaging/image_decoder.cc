#include "imaging/image_decoder.h"

#include <Magick++.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "imaging/image_signature.h"
#include "imaging/image_utils.h"

namespace {

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
