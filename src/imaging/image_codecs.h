#ifndef ORVO_IMAGING_IMAGE_CODECS_H_
#define ORVO_IMAGING_IMAGE_CODECS_H_

// Internal to the imaging library: the work that runs on the image library (GraphicsMagick) and
// the metafile renderer (librsvg), behind one table. Those two pull in some sixty shared
// libraries (HEIF, JPEG XL, AV1, cairo, pango...) whose loading took most of the service's
// start; behind the table they are mapped when a picture first needs them.
//
// Two providers of the table, chosen when a program is linked:
//   image_codecs.cc         the codecs in this process (tests, tools, and the module itself);
//   image_codecs_loaded.cc  the service: the module kImageCodecsModule beside the executable,
//                           loaded at the first call and kept for the life of the process.
// Everything else of the imaging library (the structure walk, our PNG writer, DIB rows, plain
// BMP files) runs without them.

#include <cstdint>
#include <string>
#include <string_view>

#include "imaging/image_utils.h"

// Each entry behaves as the public function it serves (image_utils.h, dib_data.h) once the
// checks that need no image library have passed.
struct ImageCodecs {
  // ConvertImageFile.
  bool (*convert_file)(const std::string& source, const std::string& destination, ImageType type,
                       int quality);
  // IsReadableImageHeader: the headers of an allow-listed raster file read as a picture.
  bool (*ping_header)(std::string_view header);
  // The whole of an allow-listed raster file decodes within the pixel cap.
  bool (*decodes)(std::string_view bytes);
  // PackedDibFromImage through the decoder.
  bool (*to_dib)(std::string_view image, std::string* dib);
  // The picture of an allow-listed raster file as our PNG (EncodeImageAsPng).
  bool (*to_png)(std::string_view image, std::string* png);
  // ImageRenderer::RenderImageScaled with the renderer's source.left and source.top.
  bool (*render_scaled)(const std::string& source, const std::string& destination, int32_t left,
                        int32_t top, int width, int height);
};

inline constexpr char kImageCodecsModule[] = "orvoimaging.so";
inline constexpr char kImageCodecsEntry[] = "OrvoImageCodecs";

// The table with the image library started; null when the codecs cannot be loaded or the library
// does not start (then every picture that needs them is refused). Thread-safe; the first call
// does the loading.
const ImageCodecs* GetImageCodecs();

// Whether the codecs are there to be loaded, without loading them.
bool ImageCodecsInstalled();

#endif  // ORVO_IMAGING_IMAGE_CODECS_H_
