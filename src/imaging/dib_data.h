#ifndef ORVO_IMAGING_DIB_DATA_H_
#define ORVO_IMAGING_DIB_DATA_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/global_memory.h"

class PngStreamEncoder;
struct DibLayout;

// A holder for a packed device-independent bitmap: a 40-byte BITMAPINFOHEADER, then the three
// channel masks when the compression is bit fields (3), then the colour table, then the rows.
// It reads the layout from the header, checks that the block is large enough for it, gives
// access to the rows and writes the bitmap out as a BMP file.
//
// Failures set errno, the thread's last error: EBADF for a missing block, EINVAL for a block
// that is too small or malformed, ENOMEM when the row table cannot be made.
// One holder is used by one thread at a time.
class CDibData {
 public:
  CDibData() = default;
  ~CDibData() { Release(); }
  CDibData(const CDibData&) = delete;
  CDibData& operator=(const CDibData&) = delete;

  // Takes the packed DIB in `handle`, locks it and reads its layout; it stays locked while
  // attached. False when the handle is empty (EBADF), the holder is already attached (errno
  // untouched), the block is under 40 bytes (EINVAL unless errno was already set), or the
  // header is not a plain 40-byte one, describes no pixels, or needs more bytes than the
  // block has (EINVAL). A bit-field DIB whose red and green masks are both 0 gets the default
  // masks for its depth written into its mask area.
  bool Attach(GlobalHandle handle);

  // Writes the attached DIB as a BMP file (a 14-byte file header, then the block up to the end
  // of its pixels) in one write. False for an empty path (EINVAL), when nothing is attached, or
  // when the file cannot be written (no partial file is left).
  bool SaveAsBmp(const std::string& path) const;

  // The bytes SaveAsBmp writes; empty when nothing is attached.
  std::string BmpFile() const;

  // Unlocks the block and hands it back without giving up the caller's share; the holder is
  // empty afterwards. Empty when nothing was attached.
  GlobalHandle Detach();

  // Unlocks and gives up the block (its last lock frees the holder's share), clears every field.
  void Release();

  bool attached() const { return handle_ != nullptr; }
  const uint8_t* header() const { return header_; }
  const uint8_t* bits() const { return bits_; }
  const uint8_t* colors() const { return colors_; }
  // The i-th scan line counted from the top of the picture, whatever the DIB's row order.
  const uint8_t* row(size_t i) const { return rows_[i]; }
  size_t row_count() const { return rows_.size(); }
  int depth() const { return depth_; }
  uint32_t color_count() const { return color_count_; }
  uint32_t mask(int channel) const { return masks_[channel]; }  // 0 red, 1 green, 2 blue
  int shift(int channel) const { return shifts_[channel]; }     // lowest set bit
  int loss(int channel) const { return losses_[channel]; }      // 8 - bits in the mask

 private:
  void SetMasks(uint8_t* mask_area);
  // Points the holder's fields into block (already attached) as layout says.
  void TakeLayout(uint8_t* block, const DibLayout& layout);

  GlobalHandle handle_;
  uint8_t* header_ = nullptr;
  uint8_t* bits_ = nullptr;
  uint8_t* colors_ = nullptr;
  std::vector<uint8_t*> rows_;
  int depth_ = 0;
  uint32_t color_count_ = 0;
  uint32_t masks_[3] = {0, 0, 0};
  int shifts_[3] = {0, 0, 0};
  int losses_[3] = {0, 0, 0};
  uint64_t file_body_size_ = 0;  // bytes of the block SaveAsBmp writes
  uint64_t pixel_offset_ = 0;    // from the start of the header to the pixels
};

// Attaches `handle`, saves it as a BMP file at `path` and detaches it again; the block itself is
// never freed. True when the file was written.
bool SaveDibAsBmp(const GlobalHandle& handle, const std::string& path);

// Writes the packed DIB in `handle` as a PNG file at `path`: the picture SaveDibAsBmp and a PNG
// conversion of that file give, without the file in between (the block is never freed). False,
// with no file, when the DIB is refused, does not decode, or the file cannot be written.
bool SaveDibAsPng(const GlobalHandle& handle, const std::string& path);

// Decodes an allow-listed image (PNG, BMP, JPEG, GIF, TIFF, WebP, chosen by its bytes) into a
// packed DIB, as a bitmap on the clipboard is offered: a 40-byte header, uncompressed, bottom-up
// rows; 24 bits per pixel, or 32 (blue, green, red, alpha) when the picture has transparency.
// False for anything else or beyond the pixel cap.
bool PackedDibFromImage(std::string_view image_bytes, std::string* dib);

// The PNG file SaveDibAsPng writes of PackedDibFromImage's DIB of a plain BMP file (uncompressed,
// 24 bits per pixel), made from the file's rows without the DIB in between. False (and *png
// untouched or empty) for any other BMP or image, which takes the DIB route.
bool PngFromPlainBmp(std::string_view file, std::string* png);

// PngFromPlainBmp for a BMP file that arrives in pieces: the bands of the PNG whose rows are in
// are compressed on worker threads while the rest of the file still comes (PngStreamEncoder).
// Used by one thread.
class PlainBmpPngStream {
 public:
  PlainBmpPngStream();
  ~PlainBmpPngStream();
  PlainBmpPngStream(const PlainBmpPngStream&) = delete;
  PlainBmpPngStream& operator=(const PlainBmpPngStream&) = delete;

  // About `bytes` more are on their way: room is made for them at once, so that the file is not
  // moved piece by piece.
  void Expect(size_t bytes);
  // The file's next bytes.
  void Append(std::string_view piece);
  // The PNG PngFromPlainBmp makes of the file appended so far. False, with *png empty, when it
  // is no plain BMP or ends before its last row. Called at most once.
  bool Finish(std::string* png);
  // The file's bytes as appended; stops the workers first. The stream is empty afterwards.
  std::string TakeFile();

 private:
  const uint8_t* Bytes() const;

  std::string file_;
  std::unique_ptr<PngStreamEncoder> encoder_;
  bool header_read_ = false;
};

// Appends to *dib (after clearing it) the packed DIB PackedDibFromImage makes of `pixels`: rows
// of width x channels bytes (3: blue, green, red; 4: then alpha), top row first, no padding.
void PackDibRows(std::string_view pixels, uint32_t width, uint32_t height, uint32_t channels,
                 std::string* dib);

#endif  // ORVO_IMAGING_DIB_DATA_H_
