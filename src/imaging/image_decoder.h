#ifndef ORVO_IMAGING_IMAGE_DECODER_H_
#define ORVO_IMAGING_IMAGE_DECODER_H_

// Internal to the imaging library: reading files and choosing a decoder by their bytes.

#include <cstdint>
#include <string>
#include <string_view>

namespace Magick {
class Image;
}

// The formats a file may be decoded as. Everything else is refused before the image library
// sees it, so that no file reaches an external delegate or a coder picked by its name.
enum class DecodableFormat {
  kBmp,
  kJpeg,
  kGif,
  kPng,
  kTiff,
  kWebp,
  kEmf,  // rendered through the metafile path only
  kNone,
};

DecodableFormat DetectDecodableFormat(std::string_view bytes);

// Reads a whole regular file into *bytes (an empty file gives empty bytes); false when it cannot
// be read or exceeds the largest input we accept.
bool ReadFileBytes(const std::string& path, std::string* bytes);

// Decodes `bytes` as an allow-listed raster format into *image (the first frame). False for
// any other format, a decode error or warning about corrupt data, a picture without pixels or
// one beyond the pixel cap.
bool DecodeRasterImage(std::string_view bytes, Magick::Image* image);

// The same for the file at `path`. False also when the file cannot be read or is empty.
bool DecodeRasterFile(const std::string& path, Magick::Image* image);

// Reads only the headers of `header` (the leading bytes of an allow-listed raster file) into
// *image: its size and kind, no pixels. False for a header the decoder refuses or one that
// declares no pixels or more than the pixel cap. It says nothing of the data after the headers.
bool PingRasterImage(std::string_view header, Magick::Image* image);

// Encodes `image` as our PNG (png_writer.h): RGBA when it has transparency, else RGB, with its
// resolution. False, with *png empty, when its pixels cannot be read or encoded.
bool EncodeImageAsPng(Magick::Image* image, std::string* png);

// ImageRenderer::RenderImageScaled on the image library, the source's corner at (left, top).
bool RenderScaledWithCodecs(const std::string& source_path, const std::string& destination_path,
                            int32_t left, int32_t top, int width, int height);

// Writes `bytes` to `path` (created or truncated). A short write removes the partial file.
bool WriteFileOnce(const std::string& path, std::string_view bytes);

#endif  // ORVO_IMAGING_IMAGE_DECODER_H_
