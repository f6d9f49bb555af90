#include "imaging/image_codecs.h"

#include <Magick++.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>

#include "imaging/dib_data.h"
#include "imaging/image_decoder.h"
#include "imaging/png_writer.h"
#include "platform/file_system.h"

namespace {

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

bool StartImageLibrary() {
  static bool ready = false;
  static std::once_flag once;
  std::call_once(once, [] {
    try {
      Magick::InitializeMagick(nullptr);
      MagickLib::SetMagickResourceLimit(MagickLib::PixelsResource, kMaxImagePixels);
      ready = true;
      for (const char* format : {"BMP", "JPEG", "GIF", "TIFF", "PNG"}) {
        MagickLib::ExceptionInfo exception;
        MagickLib::GetExceptionInfo(&exception);
        if (MagickLib::GetMagickInfo(format, &exception) == nullptr) ready = false;
        MagickLib::DestroyExceptionInfo(&exception);
      }
    } catch (...) {
      ready = false;
    }
  });
  return ready;
}

bool ConvertFile(const std::string& source_path, const std::string& destination_path,
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

bool PingHeader(std::string_view header) {
  Magick::Image image;
  return PingRasterImage(header, &image);
}

bool Decodes(std::string_view bytes) {
  Magick::Image image;
  return DecodeRasterImage(bytes, &image);
}

bool ToPng(std::string_view bytes, std::string* png) {
  Magick::Image image;
  return DecodeRasterImage(bytes, &image) && EncodeImageAsPng(&image, png);
}

bool ToDib(std::string_view image_bytes, std::string* dib) {
  Magick::Image image;
  if (!DecodeRasterImage(image_bytes, &image)) return false;
  const bool alpha = image.matte();
  const uint32_t width = image.columns(), height = image.rows();
  const uint32_t channels = alpha ? 4 : 3;
  std::string pixels(uint64_t{width} * height * channels, '\0');
  try {
    image.write(0, 0, width, height, alpha ? "BGRA" : "BGR", Magick::CharPixel, &pixels[0]);
  } catch (const std::exception&) {
    return false;
  }
  PackDibRows(pixels, width, height, channels, dib);
  return true;
}

}  // namespace

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

const ImageCodecs* GetImageCodecs() {
  static const ImageCodecs kCodecs = {ConvertFile, PingHeader, Decodes,
                                      ToDib,       ToPng,      RenderScaledWithCodecs};
  return StartImageLibrary() ? &kCodecs : nullptr;
}

bool ImageCodecsInstalled() { return true; }
