#include <Magick++.h>

#include <cmath>

#include "imaging/image_codecs.h"
#include "imaging/image_decoder.h"
#include "imaging/image_utils.h"
#include "imaging/metafile.h"

namespace {

bool DrawRasterScaled(std::string_view bytes, const ImageRect& source, int width, int height,
                      Magick::Image* canvas) {
  Magick::Image picture;
  if (!DecodeRasterImage(bytes, &picture)) return false;
  try {
    double scale_x = static_cast<double>(width) / picture.columns();
    double scale_y = static_cast<double>(height) / picture.rows();
    Magick::Geometry size(width, height);
    size.aspect(true);  // Stretch to exactly width x height, as the destination rectangle does.
    // Catmull-Rom: the high-quality bicubic kernel.
    picture.resize(size, Magick::CatromFilter);
    *canvas = Magick::Image(Magick::Geometry(width, height), Magick::Color("white"));
    canvas->composite(picture, static_cast<int>(std::lround(-source.left * scale_x)),
                      static_cast<int>(std::lround(-source.top * scale_y)),
                      Magick::OverCompositeOp);
  } catch (const Magick::Warning&) {
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

}  // namespace

bool RenderScaledWithCodecs(const std::string& source_path, const std::string& destination_path,
                            int32_t left, int32_t top, int width, int height) {
  const ImageRect source{left, top, 0, 0};
  if (source_path.empty() || destination_path.empty()) return false;
  if (width == -1 || height == -1) {
    return ConvertImageFile(source_path, destination_path, ImageType::kPng, 100);
  }
  if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxImagePixels) {
    return false;
  }
  std::string bytes;
  if (!ReadFileBytes(source_path, &bytes)) return false;

  if (DetectDecodableFormat(bytes) == DecodableFormat::kEmf) {
    std::string png;
    return RenderEmfToPng(bytes, source.left, source.top, width, height, &png) &&
           WriteFileOnce(destination_path, png);
  }
  Magick::Image canvas;
  if (!DrawRasterScaled(bytes, source, width, height, &canvas)) return false;
  ImageEncoder encoder;
  EncoderMimeType(ImageType::kPng, &encoder);
  EncoderParameters parameters;
  return SaveImageViaStream(destination_path, &canvas, &encoder, &parameters);
}
