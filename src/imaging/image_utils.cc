#include "imaging/image_utils.h"

#include <Magick++.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "imaging/image_decoder.h"
#include "imaging/image_signature.h"
#include "imaging/image_structure.h"
#include "imaging/png_writer.h"
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

bool FileExists(const std::string& path) {
  return FileSystem::Default().Status(path, FollowLinks::kYes).Exists();
}

// The pHYs value (pixels per metre) of a resolution as the image library keeps it; 0 when the
// unit is unknown.
uint32_t PixelsPerMeter(double resolution, Magick::ResolutionType units) {
  if (resolution <= 0 || resolution > 1e7) return 0;
  switch (units) {
    case Magick::PixelsPerInchResolution:
      return static_cast<uint32_t>(resolution * 100.0 / 2.54 + 0.5);
    case Magick::PixelsPerCentimeterResolution:
      return static_cast<uint32_t>(resolution * 100.0 + 0.5);
    default:
      return 0;
  }
}

// Picks the concrete output coder and its settings for one of our encoders (PNG is ours).
void ApplyEncoder(const ImageEncoder& encoder, const EncoderParameters& parameters,
                  Magick::Image* image) {
  const std::string& f = encoder.format;
  if (f == "JPEG") {
    image->magick("JPEG");
    image->quality(static_cast<unsigned int>(std::clamp(parameters.quality, 0, 100)));
  } else if (f == "BMP") {
    // A plain 40-byte info header, as every reader understands, unless alpha needs more.
    image->magick(image->matte() ? "BMP" : "BMP3");
  } else if (f == "TIFF") {
    image->magick("TIFF");
    image->compressType(Magick::LZWCompression);
  } else {
    image->magick(f);
  }
}

}  // namespace

bool InitializeImaging() {
  static bool ready = false;
  static std::once_flag once;
  std::call_once(once, [] {
    try {
      Magick::InitializeMagick(nullptr);
      MagickLib::SetMagickResourceLimit(MagickLib::PixelsResource, kMaxImagePixels);
      ready = true;
      for (const EncoderEntry& e : kEncoders) {
        MagickLib::ExceptionInfo exception;
        MagickLib::GetExceptionInfo(&exception);
        if (MagickLib::GetMagickInfo(e.format, &exception) == nullptr) ready = false;
        MagickLib::DestroyExceptionInfo(&exception);
      }
    } catch (...) {
      ready = false;
    }
  });
  return ready;
}

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

bool SaveImageViaStream(const std::string& destination, Magick::Image* image,
                        const ImageEncoder* encoder, const EncoderParameters* parameters) {
  if (destination.empty() || image == nullptr || encoder == nullptr || parameters == nullptr ||
      encoder->format.empty()) {
    return false;
  }
  if (encoder->format == "PNG") {
    std::string png;
    return EncodeImageAsPng(image, &png) && WriteFileOnce(destination, png);
  }
  Magick::Blob blob;
  try {
    ApplyEncoder(*encoder, *parameters, image);
    image->write(&blob);
  } catch (const Magick::Warning&) {
    // The bytes were written; a warning does not spoil them.
  } catch (const std::exception&) {
    return false;
  }
  if (blob.length() == 0) return false;
  return WriteFileOnce(destination,
                       std::string_view(static_cast<const char*>(blob.data()), blob.length()));
}

bool EncodeImageAsPng(Magick::Image* image, std::string* png) {
  png->clear();
  PngPixels pixels;
  pixels.width = static_cast<uint32_t>(image->columns());
  pixels.height = static_cast<uint32_t>(image->rows());
  // An image with transparency keeps it (RGBA), any other becomes 8-bit RGB, grey included.
  const bool alpha = image->matte();
  pixels.order = alpha ? PixelOrder::kRgba : PixelOrder::kRgb;
  pixels.stride = static_cast<ptrdiff_t>(pixels.width) * (alpha ? 4 : 3);
  std::unique_ptr<uint8_t[]> bytes(
      new (std::nothrow) uint8_t[static_cast<size_t>(pixels.stride) * pixels.height]);
  if (bytes == nullptr) return false;
  try {
    image->write(0, 0, pixels.width, pixels.height, alpha ? "RGBA" : "RGB", Magick::CharPixel,
                 bytes.get());
    pixels.x_pixels_per_meter = PixelsPerMeter(image->xResolution(), image->resolutionUnits());
    pixels.y_pixels_per_meter = PixelsPerMeter(image->yResolution(), image->resolutionUnits());
  } catch (const std::exception&) {
    return false;
  }
  pixels.top_row = bytes.get();
  return EncodePng(pixels, png);
}

int EffectiveQuality(const std::string& source_path, int quality) {
  FileStatus status = FileSystem::Default().Status(source_path, FollowLinks::kYes);
  if (status.Exists() && status.size <= kFullQualityMaxBytes) return 100;
  return quality;
}

bool ConvertImageFile(const std::string& source_path, const std::string& destination_path,
                      ImageType type, int quality) {
  if (source_path.empty() || destination_path.empty() || !FileExists(source_path)) return false;
  EncoderParameters parameters;
  parameters.quality = EffectiveQuality(source_path, quality);
  ImageEncoder encoder;
  EncoderMimeType(type, &encoder);
  if (encoder.format.empty()) return false;  // Nothing could encode it; skip the decode.
  Magick::Image image;
  if (!DecodeRasterFile(source_path, &image)) return false;
  return SaveImageViaStream(destination_path, &image, &encoder, &parameters);
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
      Magick::Image image;
      return DecodeRasterImage(bytes, &image);
    }
    case ImageStructure::kBroken:
      break;
  }
  return false;
}

bool IsReadableImageHeader(std::string_view header) {
  Magick::Image image;
  return PingRasterImage(header, &image);
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
