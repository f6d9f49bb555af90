#ifndef ORVO_IMAGING_PNG_WRITER_H_
#define ORVO_IMAGING_PNG_WRITER_H_

// Our PNG encoder: 8-bit RGB or RGBA, each row filtered by its difference to the row above
// ("Up"), compressed by libdeflate at level 2: a small picture in one call, a large one in row
// bands on several threads, joined into one stream.
//
// Why not the image library's or libspng's writer: both compress through zlib, whose level 1
// with adaptive row filters took 0.65 s for a 4K screenshot here; Up + libdeflate level 2 takes
// a fifth of that and gives smaller files on screenshots and photographs alike (1.24 MB against
// 1.45 MB, 14.7 MB against 15.5 MB). libspng cannot take a stream compressed elsewhere, so the
// few chunks around it are written here.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// How the channels of one pixel lie in memory, one byte each.
enum class PixelOrder { kRgb, kRgba, kBgr, kBgra };

// Rows of a picture held by the caller. Row y (counted from the top) starts at
// top_row + y * stride; stride is negative for rows stored bottom-up (a DIB) and may include
// padding. Nothing is copied or kept after EncodePng returns.
struct PngPixels {
  const uint8_t* top_row = nullptr;
  ptrdiff_t stride = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  PixelOrder order = PixelOrder::kRgb;
  // Written as the pHYs chunk (pixels per metre) when both are above 0.
  uint32_t x_pixels_per_meter = 0;
  uint32_t y_pixels_per_meter = 0;
};

// Encodes the picture as a PNG file into *png (replacing its contents): RGB for kRgb/kBgr,
// RGBA (straight alpha) for kRgba/kBgra. False, with *png empty, for an empty picture, one
// beyond the format's limits or a failed allocation.
bool EncodePng(const PngPixels& pixels, std::string* png);

// The band size EncodePng compresses in: each band starts without history, which costs little
// at this size (a 4K screenshot in six bands comes out within 0.05% of one stream's size; a
// 1080p screen in three 2 MiB bands already loses 0.7%), and the bands keep two threads busy.
inline constexpr size_t kPngBandBytes = size_t{4} << 20;

// The same with the picture's rows compressed in bands of about band_bytes filtered bytes each,
// on several threads when there are several bands. Thread-safe.
bool EncodePngInBands(const PngPixels& pixels, size_t band_bytes, std::string* png);

// A PNG encoded while the caller's buffer still fills, front to back, as a transfer brings it:
// each band of rows is filtered and compressed on a worker thread as soon as its rows and the
// row above it have arrived, in whatever order that happens (a bottom-up bitmap completes its
// last band first), and the bands are joined in picture order at the end. The bytes are those
// EncodePngInBands writes with the same band size.
//
// Row y of the picture starts at byte top_row_offset + y * layout.stride of the buffer;
// layout.top_row is not used. One thread calls the methods; the workers are the encoder's own.
class PngStreamEncoder {
 public:
  PngStreamEncoder(const PngPixels& layout, size_t top_row_offset, size_t band_bytes);
  // Stops the workers and waits for them; bands not yet compressed are dropped.
  ~PngStreamEncoder();
  PngStreamEncoder(const PngStreamEncoder&) = delete;
  PngStreamEncoder& operator=(const PngStreamEncoder&) = delete;

  // The buffer's first `size` bytes are there, at `base`. Bands whose rows lie within them are
  // compressed from now on, by workers started on the first call.
  void Arrived(const uint8_t* base, size_t size);

  // Before the caller moves or frees the buffer: waits until no band is being read; no band is
  // started again until Arrived gives the buffer's new place.
  void Pause();

  // Once every row has arrived: compresses the bands left (on this thread as well), waits for
  // the workers and writes the PNG into *png. False, with *png empty, when rows are missing,
  // the layout is one EncodePng refuses (or puts rows before the buffer's start) or a band could
  // not be compressed. Called at most once.
  bool Finish(std::string* png);

  struct State;

 private:
  std::unique_ptr<State> state_;
};

#endif  // ORVO_IMAGING_PNG_WRITER_H_
