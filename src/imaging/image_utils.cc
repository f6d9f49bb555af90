#include "imaging/image_utils.h"

#include <algorithm>
#include <cstring>

#include "imaging/image_codecs.h"
#include "imaging/image_decoder.h"
#include "imaging/image_signature.h"
#include "imaging/image_structure.h"
#include "platform/file_system.h"
#include "text/ascii.h"

namespace {

struct EncoderEntry {
  ImageType type;
  const char* mime_type;
  const char* format;
};

// In the order the platform lists its built-in encoders, so indexes agree across platforms.
constexpr EncoderEntry kEncoders[] = {
    {ImageType::kBmp, "image/bmp", "BMP"}, {ImageType::kJpeg, "image/jpeg", "JPEG"},
    {ImageType::kGif, "image/gif", "GIF"}, {ImageType::kTiff, "image/tiff", "TIFF"},
    {ImageType::kPng, "image/png", "PNG"},
};

constexpr uint64_t kFullQualityMaxBytes = 0x500000;  // 5 MiB

}  // namespace

bool InitializeImaging() { return GetImageCodecs() != nullptr; }

bool ImagingInstalled() { return ImageCodecsInstalled(); }

ImageType ImageTypeFromExtension(std::string_view extension) {
  static constexpr struct {
    const char* extension;
    ImageType type;
  } kTable[] = {
      {".bmp", ImageType::kBmp},   {".jpg", ImageType::kJpeg}, {".jpeg", ImageType::kJpeg},
      {".gif", ImageType::kGif},   {".png", ImageType::kPng},  {".tif", ImageType::kTiff},
      {".tiff", ImageType::kTiff},
  };
  for (const auto& row : kTable) {
    if (EqualsIgnoringAsciiCase(extension, row.extension)) return row.type;
  }
  return ImageType::kNone;
}

std::string EncoderMimeType(ImageType type, ImageEncoder* encoder) {
  if (encoder != nullptr) encoder->format.clear();
  for (const EncoderEntry& e : kEncoders) {
    if (e.type != type) continue;
    if (encoder != nullptr) FindEncoderClsid(e.mime_type, encoder);
    return e.mime_type;
  }
  return std::string();
}

int FindEncoderClsid(std::string_view mime_type, ImageEncoder* encoder) {
  for (size_t i = 0; i < std::size(kEncoders); ++i) {
    if (!EqualsIgnoringAsciiCase(mime_type, kEncoders[i].mime_type)) continue;
    if (encoder != nullptr) encoder->format = kEncoders[i].format;
    return static_cast<int>(i);
  }
  return -1;
}

int EffectiveQuality(const std::string& source_path, int quality) {
  FileStatus status = FileSystem::Default().Status(source_path, FollowLinks::kYes);
  if (status.Exists() && status.size <= kFullQualityMaxBytes) return 100;
  return quality;
}

bool ConvertImageFile(const std::string& source_path, const std::string& destination_path,
                      ImageType type, int quality) {
  const ImageCodecs* codecs = GetImageCodecs();
  return codecs != nullptr && codecs->convert_file(source_path, destination_path, type, quality);
}

bool IsReadableImage(const std::string& path) {
  std::string bytes;
  return ReadFileBytes(path, &bytes) && IsReadableImageData(bytes);
}

bool IsReadableImageData(std::string_view bytes) {
  size_t header_bytes = 0;
  switch (WalkImageStructure(bytes, &header_bytes)) {
    case ImageStructure::kWhole:
      return IsReadableImageHeader(bytes.substr(0, header_bytes));
    case ImageStructure::kNotWalkable: {
      const ImageCodecs* codecs = GetImageCodecs();
      return codecs != nullptr && codecs->decodes(bytes);
    }
    case ImageStructure::kBroken:
      break;
  }
  return false;
}

bool IsReadableImageHeader(std::string_view header) {
  // Most pictures answer by their header alone; the library is asked about the rest.
  if (PngHeaderIsPlain(header)) return true;
  const ImageCodecs* codecs = GetImageCodecs();
  return codecs != nullptr && codecs->ping_header(header);
}

bool ImageRenderer::Startup() {
  started_ = InitializeImaging();
  return started_;
}

bool ImageRenderer::RenderImageScaled(const std::string& source_path,
                                      const std::string& destination_path, int width, int height) {
  const ImageCodecs* codecs = GetImageCodecs();
  return codecs != nullptr && codecs->render_scaled(source_path, destination_path, source.left,
                                                    source.top, width, height);
}

SniffedFormat SniffImageFormat(const void* bytes, size_t count) {
  if (bytes == nullptr || count < 16) return SniffedFormat::kNone;
  const std::string_view head(static_cast<const char*>(bytes), count);
  switch (SignatureOf(head)) {
    case ImageSignature::kPng:
      // A PNG's first chunk is its header: the sniff wants its length and type too.
      return head.substr(8, 8) == std::string_view("\0\0\0\x0dIHDR", 8) ? SniffedFormat::kPng
                                                                        : SniffedFormat::kNone;
    case ImageSignature::kJpeg:
      return SniffedFormat::kJpeg;
    case ImageSignature::kGif:
      return SniffedFormat::kGif;
    case ImageSignature::kBmp:
      return SniffedFormat::kBmp;
    case ImageSignature::kRiff:
      return SniffedFormat::kRiff;
    default:
      return SniffedFormat::kNone;  // TIFF and EMF are not among the sniffed kinds
  }
}
