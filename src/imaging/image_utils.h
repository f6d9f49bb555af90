#ifndef ORVO_IMAGING_IMAGE_UTILS_H_
#define ORVO_IMAGING_IMAGE_UTILS_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "imaging/image_rect.h"

namespace Magick {
class Image;
}

// Image services on GraphicsMagick: type codes, encoders, conversion, scaled rendering (also of
// enhanced metafiles), the readability test and signature sniffing.
//
// Decoders are chosen from the file's leading bytes, never from its name, and only from an
// allow-list: BMP, JPEG, GIF, PNG, TIFF and WebP (and EMF where a metafile is rendered). Any
// other file, whatever its extension, never reaches the library. Decoded images are capped at
// kMaxImagePixels pixels. All functions are thread-safe.

// The largest picture decoded or rendered, in pixels (width x height).
inline constexpr long long kMaxImagePixels = 100LL * 1000 * 1000;

// Initialises the image library once for the process (later calls only report the first
// result); in the service this loads it. False when it cannot start. The functions here start it
// themselves when they need it.
bool InitializeImaging();

// Whether the image library is there to be started, without starting it.
bool ImagingInstalled();

// Image type codes: one bit per encoder.
enum class ImageType : int {
  kNone = 0,
  kBmp = 1,
  kJpeg = 2,
  kGif = 4,
  kPng = 8,
  kTiff = 16,
};

// ".bmp" -> kBmp, ".jpg"/".jpeg" -> kJpeg, ".gif" -> kGif, ".png" -> kPng, ".tif"/".tiff" ->
// kTiff, compared without regard to case, dot included. Anything else (".webp", "", "png")
// -> kNone.
ImageType ImageTypeFromExtension(std::string_view extension);

// An encoder of the image library; `format` is empty when none was found.
struct ImageEncoder {
  std::string format;
};

// The media type of a type code ("image/png"; empty for kNone). Clears *encoder, then looks the
// encoder up by that media type (it stays empty for kNone). `encoder` may be null.
std::string EncoderMimeType(ImageType type, ImageEncoder* encoder);

// Finds the encoder for a media type (compared without regard to case). Returns its index in the
// encoder list and fills *encoder, or returns -1 and leaves *encoder unchanged.
int FindEncoderClsid(std::string_view mime_type, ImageEncoder* encoder);

// Encoder settings. `quality` (0-100) is the JPEG quality; PNG is always our fast encoder.
struct EncoderParameters {
  int quality = 100;
};

// Encodes `image` in memory with `encoder`, then writes the bytes to `destination` in one
// write. Any null argument, an empty encoder or a failed encode returns false without touching
// the destination; a failed write removes the partial file.
bool SaveImageViaStream(const std::string& destination, Magick::Image* image,
                        const ImageEncoder* encoder, const EncoderParameters* parameters);

// The quality ConvertImageFile applies: 100 for a source of at most 5 MiB (whose size can be
// read), otherwise `quality`.
int EffectiveQuality(const std::string& source_path, int quality);

// Re-encodes the image file `source_path` as `type` into `destination_path`, with
// EffectiveQuality(). False (and no destination file) when the source is missing, is not an
// allow-listed image, is too large, or `type` is kNone.
bool ConvertImageFile(const std::string& source_path, const std::string& destination_path,
                      ImageType type, int quality);

// Renders an image (raster or enhanced metafile) into a PNG of a chosen pixel size.
class ImageRenderer {
 public:
  ImageRenderer() = default;
  ~ImageRenderer() { Shutdown(); }
  ImageRenderer(const ImageRenderer&) = delete;
  ImageRenderer& operator=(const ImageRenderer&) = delete;

  // Makes sure the image library is running; true when it is. Shutdown only clears the flag:
  // the library stays up for the process.
  bool Startup();
  void Shutdown() { started_ = false; }
  bool started() const { return started_; }

  // Only left and top are used: the point of the source picture that lands on the top-left
  // corner of the output (in the picture's pixels; for a metafile, in its device units).
  ImageRect source;

  // Draws the picture in `source_path` onto a width x height canvas cleared to opaque white,
  // scaled with high-quality filtering from its own size (the source area starts at
  // source.left/top and is as large as the picture), and writes it as PNG. Width or height -1:
  // a plain PNG conversion at quality 100. False, with no destination file, when the source is
  // missing or unreadable, the size is not positive or exceeds kMaxImagePixels.
  bool RenderImageScaled(const std::string& source_path, const std::string& destination_path,
                         int width, int height);

 private:
  bool started_ = false;
};

// True when the file is an allow-listed raster image of at least one pixel, within the pixel
// cap. This is the image test of the file records and of the resource-folder listing. PNG and
// JPEG are judged without decoding a pixel: their structure must be whole (WalkImageStructure)
// and their headers must read as a picture; the other formats are decoded.
bool IsReadableImage(const std::string& path);

// The same test on a file's bytes.
bool IsReadableImageData(std::string_view bytes);

// The last step of the test for a PNG or JPEG whose structure was found whole elsewhere (by
// WalkImageStructure over a mapped file): whether `header`, the leading header_bytes the walk
// reported, reads as a picture within the pixel cap.
bool IsReadableImageHeader(std::string_view header);

// Signature codes of SniffImageFormat.
enum class SniffedFormat : int {
  kGif = 0,
  kPng = 1,
  kJpeg = 2,
  kBmp = 3,
  kRiff = 4,  // taken to be WebP
  kNone = 5,
};

// Recognises an image by its first 16 bytes: fewer than 16 -> kNone; the PNG signature followed
// by an IHDR chunk header -> kPng; FF D8 FF -> kJpeg; "GIF8" -> kGif; "BM" -> kBmp; "RIFF" ->
// kRiff; else kNone. The first test that holds decides.
SniffedFormat SniffImageFormat(const void* bytes, size_t count);

#endif  // ORVO_IMAGING_IMAGE_UTILS_H_
