#include "imaging/dib_data.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "imaging/image_codecs.h"
#include "imaging/image_decoder.h"
#include "imaging/image_utils.h"
#include "imaging/png_writer.h"
#include "platform/memory_advice.h"

// Everything the header alone says about where things lie. Sizes are 64-bit so that no header
// value can wrap them.
struct DibLayout {
  int64_t height = 0;
  uint64_t stride = 0;
  int depth = 0;
  bool bit_fields = false;
  uint64_t color_entries = 0;  // entries stored in the block before the pixels
  uint64_t table_offset = 0;   // from the start of the header
  uint64_t pixel_offset = 0;
  uint64_t required = 0;  // the least block size that holds every row
  uint64_t written = 0;   // bytes of the block a BMP file carries
};

namespace {

constexpr uint32_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER; later versions are refused
constexpr uint32_t kBitFields = 3;        // BI_BITFIELDS
constexpr uint32_t kMaskAreaSize = 12;
constexpr uint32_t kFileHeaderSize = 14;       // BITMAPFILEHEADER
constexpr uint32_t kDibPixelsPerMeter = 3780;  // 96 dots per inch

uint32_t Read32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void Write32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Append16(std::string* s, uint16_t v) {
  s->push_back(static_cast<char>(v & 0xFF));
  s->push_back(static_cast<char>(v >> 8));
}
void Append32(std::string* s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// Only these depths have a defined row layout.
bool IsAddressableDepth(uint32_t bits_per_pixel) {
  switch (bits_per_pixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      return true;
    default:
      return false;
  }
}

// False when the header cannot describe a picture we can address safely.
bool ComputeLayout(const uint8_t* h, DibLayout* out) {
  int64_t width = static_cast<int32_t>(Read32(h + 4));
  int64_t height = static_cast<int32_t>(Read32(h + 8));
  uint32_t bits_per_pixel = static_cast<uint32_t>(Read16(h + 12)) * Read16(h + 14);
  uint32_t compression = Read32(h + 16);
  uint32_t size_image = Read32(h + 20);
  uint32_t colors_used = Read32(h + 32);
  if (!IsAddressableDepth(bits_per_pixel)) return false;
  if (width <= 0 || height == 0 || height == INT32_MIN) return false;
  out->height = height;
  out->depth = static_cast<int>(bits_per_pixel);
  out->stride = ((bits_per_pixel * static_cast<uint64_t>(width) + 31) >> 3) & ~uint64_t{3};
  out->bit_fields = compression == kBitFields;
  uint64_t full_table = out->depth <= 8 ? (uint64_t{1} << out->depth) : 0;
  if (out->depth <= 8) {
    if (colors_used > full_table) return false;  // more entries than pixel values
    out->color_entries = colors_used != 0 ? colors_used : full_table;
  } else {
    out->color_entries = colors_used;  // an optional palette still precedes the pixels
  }
  uint64_t pixel_bytes = static_cast<uint64_t>(height < 0 ? -height : height) * out->stride;
  out->table_offset = kInfoHeaderSize + (out->bit_fields ? kMaskAreaSize : 0);
  out->pixel_offset = out->table_offset + out->color_entries * 4;
  // The full table is counted even when fewer entries are used.
  uint64_t table_room = out->depth <= 8 ? full_table * 4 : out->color_entries * 4;
  out->required = out->table_offset + table_room + pixel_bytes;
  // Uncompressed rows have exactly this size whatever the header's image size says; only a
  // compressed DIB relies on the stated size.
  bool uncompressed = compression == 0 || out->bit_fields;
  uint64_t stored_pixels = uncompressed || size_image == 0 ? pixel_bytes : size_image;
  out->written = out->pixel_offset + stored_pixels;
  return true;
}

void DefaultMasks(int depth, uint32_t masks[3], int shifts[3], int losses[3]) {
  static const uint32_t k16[3] = {0x7C00, 0x03E0, 0x001F};
  static const uint32_t k32[3] = {0xFF0000, 0x00FF00, 0x0000FF};
  for (int c = 0; c < 3; ++c) {
    if (depth == 16) {
      masks[c] = k16[c];
      shifts[c] = 10 - 5 * c;
      losses[c] = 3;
    } else if (depth == 24 || depth == 32) {
      masks[c] = k32[c];
      shifts[c] = 16 - 8 * c;
      losses[c] = 0;
    } else {
      masks[c] = 0;
      shifts[c] = 0;
      losses[c] = 0;
    }
  }
}

}  // namespace

void CDibData::SetMasks(uint8_t* mask_area) {
  if (mask_area == nullptr) {
    DefaultMasks(depth_, masks_, shifts_, losses_);
    return;
  }
  for (int c = 0; c < 3; ++c) masks_[c] = Read32(mask_area + 4 * c);
  if (masks_[0] == 0 && masks_[1] == 0) {
    DefaultMasks(depth_, masks_, shifts_, losses_);
    for (int c = 0; c < 3; ++c) Write32(mask_area + 4 * c, masks_[c]);
    return;
  }
  for (int c = 0; c < 3; ++c) {
    uint32_t m = masks_[c];
    shifts_[c] = 0;
    losses_[c] = 0;
    if (m == 0) continue;
    int shift = 0;
    while ((m & 1) == 0) {
      m >>= 1;
      ++shift;
    }
    int ones = 0;
    while (m & 1) {
      m >>= 1;
      ++ones;
    }
    shifts_[c] = shift;
    losses_[c] = 8 - ones;
  }
}

bool CDibData::Attach(GlobalHandle handle) {
  if (!handle) {
    errno = EBADF;
    return false;
  }
  if (handle_) return false;
  if (handle->Size() < kInfoHeaderSize) {
    if (errno == 0) errno = EINVAL;
    return false;
  }
  uint8_t* block = handle->Lock();
  if (block == nullptr) return false;
  DibLayout layout;
  if (Read32(block) != kInfoHeaderSize || !ComputeLayout(block, &layout) ||
      layout.required > handle->Size() || layout.written > handle->Size()) {
    handle->Unlock();
    errno = EINVAL;
    return false;
  }
  size_t row_count = static_cast<size_t>(layout.height < 0 ? -layout.height : layout.height);
  try {
    rows_.resize(row_count);
  } catch (const std::bad_alloc&) {
    handle->Unlock();
    errno = ENOMEM;
    return false;
  }
  handle_ = std::move(handle);
  TakeLayout(block, layout);
  return true;
}

void CDibData::TakeLayout(uint8_t* block, const DibLayout& layout) {
  depth_ = layout.depth;
  SetMasks(layout.bit_fields ? block + kInfoHeaderSize : nullptr);
  header_ = block;
  colors_ = layout.depth <= 8 ? block + layout.table_offset : nullptr;
  bits_ = block + layout.pixel_offset;
  color_count_ = static_cast<uint32_t>(layout.color_entries);
  const size_t row_count = rows_.size();
  for (size_t i = 0; i < row_count; ++i) {
    size_t line = layout.height > 0 ? row_count - 1 - i : i;  // positive height: bottom-up
    rows_[i] = bits_ + line * layout.stride;
  }
  file_body_size_ = layout.written;
  pixel_offset_ = layout.pixel_offset;
}

bool CDibData::SaveAsBmp(const std::string& path) const {
  if (path.empty()) {
    errno = EINVAL;
    return false;
  }
  if (!handle_) return false;
  return WriteFileOnce(path, BmpFile());
}

std::string CDibData::BmpFile() const {
  std::string file;
  if (!handle_) return file;
  file.reserve(kFileHeaderSize + file_body_size_);
  Append16(&file, 0x4D42);  // "BM"
  Append32(&file, static_cast<uint32_t>(kFileHeaderSize + file_body_size_));
  Append16(&file, 0);
  Append16(&file, 0);
  Append32(&file, static_cast<uint32_t>(kFileHeaderSize + pixel_offset_));
  file.append(reinterpret_cast<const char*>(header_), file_body_size_);
  return file;
}

GlobalHandle CDibData::Detach() {
  GlobalHandle handle = std::move(handle_);
  if (handle) handle->Unlock();
  handle_.reset();
  Release();
  return handle;
}

void CDibData::Release() {
  if (handle_) {
    // Our share goes with our lock; a block that other holders still use stays alive for them.
    handle_->Unlock();
    FreeGlobalBlock(&handle_);
  }
  rows_.clear();
  rows_.shrink_to_fit();
  header_ = bits_ = colors_ = nullptr;
  depth_ = 0;
  color_count_ = 0;
  for (int c = 0; c < 3; ++c) masks_[c] = shifts_[c] = losses_[c] = 0;
  file_body_size_ = pixel_offset_ = 0;
}

bool SaveDibAsBmp(const GlobalHandle& handle, const std::string& path) {
  CDibData dib;
  if (!dib.Attach(handle)) return false;
  bool saved = dib.SaveAsBmp(path);
  dib.Detach();
  return saved;
}

namespace {

// The PNG of an attached DIB: the picture the image decoder reads from its BMP file. A 24-bit
// uncompressed one, the kind PackedDibFromImage makes of an opaque picture, is encoded from its
// rows directly, with the resolution its header states; any other goes through its BMP file's
// bytes in memory.
bool EncodeDibAsPng(const CDibData& dib, std::string* png) {
  const uint8_t* h = dib.header();
  if (dib.depth() != 24 || Read32(h + 16) != 0) {
    const ImageCodecs* codecs = GetImageCodecs();
    return codecs != nullptr && codecs->to_png(dib.BmpFile(), png);
  }
  PngPixels pixels;
  pixels.width = Read32(h + 4);
  pixels.height = static_cast<uint32_t>(dib.row_count());
  pixels.order = PixelOrder::kBgr;
  pixels.top_row = dib.row(0);
  const ptrdiff_t stride = static_cast<ptrdiff_t>((size_t{pixels.width} * 3 + 3) & ~size_t{3});
  pixels.stride = static_cast<int32_t>(Read32(h + 8)) > 0 ? -stride : stride;
  pixels.x_pixels_per_meter = Read32(h + 24);
  pixels.y_pixels_per_meter = Read32(h + 28);
  return EncodePng(pixels, png);
}

}  // namespace

bool SaveDibAsPng(const GlobalHandle& handle, const std::string& path) {
  CDibData dib;
  if (!dib.Attach(handle)) return false;
  std::string png;
  const bool encoded = EncodeDibAsPng(dib, &png);
  dib.Detach();
  return encoded && WriteFileOnce(path, png);
}

namespace {

void AppendDibHeader(uint32_t width, uint32_t height, uint32_t channels, uint64_t pixel_bytes,
                     std::string* dib) {
  Append32(dib, kInfoHeaderSize);
  Append32(dib, width);
  Append32(dib, height);  // positive: bottom-up
  Append16(dib, 1);
  Append16(dib, static_cast<uint16_t>(channels * 8));
  Append32(dib, 0);  // BI_RGB
  Append32(dib, static_cast<uint32_t>(pixel_bytes));
  Append32(dib, kDibPixelsPerMeter);
  Append32(dib, kDibPixelsPerMeter);
  Append32(dib, 0);
  Append32(dib, 0);
}

// Where the rows of an uncompressed 24-bit BMP file lie, in either row order and with any of the
// info headers that keep the first 40 bytes' layout, as its headers say.
struct PlainBmpLayout {
  uint32_t width = 0;
  uint32_t rows = 0;
  uint64_t stride = 0;
  uint64_t pixel_offset = 0;
  bool bottom_up = false;

  uint64_t end() const { return pixel_offset + stride * rows; }
  // The file's rows as the PNG writer takes them, the file starting at `file` (when not null).
  PngPixels Pixels(const uint8_t* file) const {
    PngPixels pixels;
    if (file != nullptr) pixels.top_row = file + TopRowOffset();
    pixels.stride = bottom_up ? -static_cast<ptrdiff_t>(stride) : static_cast<ptrdiff_t>(stride);
    pixels.width = width;
    pixels.height = rows;
    pixels.order = PixelOrder::kBgr;
    // The resolution PackedDibFromImage gives every picture, so both routes write the same file.
    pixels.x_pixels_per_meter = kDibPixelsPerMeter;
    pixels.y_pixels_per_meter = kDibPixelsPerMeter;
    return pixels;
  }
  size_t TopRowOffset() const {
    return static_cast<size_t>(pixel_offset + (bottom_up ? (rows - 1) * stride : 0));
  }
};

// Reads the layout from the file's first 54 bytes. False for any other BMP.
bool ReadPlainBmpLayout(std::string_view file, PlainBmpLayout* out) {
  constexpr size_t kInfoAt = kFileHeaderSize;
  if (file.size() < kInfoAt + kInfoHeaderSize || file.substr(0, 2) != "BM") return false;
  const uint8_t* f = reinterpret_cast<const uint8_t*>(file.data());
  const uint8_t* h = f + kInfoAt;
  const uint32_t header_size = Read32(h);
  const int64_t width = static_cast<int32_t>(Read32(h + 4));
  const int64_t height = static_cast<int32_t>(Read32(h + 8));
  const uint64_t pixel_offset = Read32(f + 10);
  if ((header_size != 40 && header_size != 52 && header_size != 56 && header_size != 108 &&
       header_size != 124) ||
      Read16(h + 12) != 1 || Read16(h + 14) != 24 || Read32(h + 16) != 0 || width <= 0 ||
      height == 0 || height == INT32_MIN || pixel_offset < kInfoAt + header_size) {
    return false;
  }
  const uint64_t rows = static_cast<uint64_t>(height < 0 ? -height : height);
  if (static_cast<uint64_t>(width) * rows > static_cast<uint64_t>(kMaxImagePixels)) return false;
  out->width = static_cast<uint32_t>(width);
  out->rows = static_cast<uint32_t>(rows);
  out->stride = (static_cast<uint64_t>(width) * 3 + 3) & ~uint64_t{3};
  out->pixel_offset = pixel_offset;
  out->bottom_up = height > 0;
  return true;
}

// The layout of a whole plain BMP file: false when it is another BMP or its rows run past its end.
bool FindPlainBmpRows(std::string_view file, PlainBmpLayout* out) {
  return ReadPlainBmpLayout(file, out) && out->pixel_offset <= file.size() &&
         (file.size() - out->pixel_offset) / out->stride >= out->rows;
}

// A plain BMP is already the picture's bytes: its packed DIB is made by copying rows, without
// decoding it into the image library and reading it back. False (and *dib untouched) for any
// other BMP, which the decoder reads instead.
bool PackedDibFromPlainBmp(std::string_view file, std::string* dib) {
  PlainBmpLayout bmp;
  if (!FindPlainBmpRows(file, &bmp)) return false;
  const uint8_t* top_row = reinterpret_cast<const uint8_t*>(file.data()) + bmp.TopRowOffset();
  const int64_t step = bmp.bottom_up ? -static_cast<int64_t>(bmp.stride) : bmp.stride;
  const uint64_t row_bytes = uint64_t{bmp.width} * 3;
  dib->clear();
  dib->reserve(kInfoHeaderSize + bmp.stride * bmp.rows);
  AppendDibHeader(bmp.width, bmp.rows, 3, bmp.stride * bmp.rows, dib);
  // Our rows are bottom-up: the bottom row of the picture first.
  for (uint64_t i = bmp.rows; i-- > 0;) {
    dib->append(reinterpret_cast<const char*>(top_row + static_cast<int64_t>(i) * step), row_bytes);
    dib->append(bmp.stride - row_bytes, '\0');
  }
  return true;
}

}  // namespace

void PackDibRows(std::string_view pixels, uint32_t width, uint32_t height, uint32_t channels,
                 std::string* dib) {
  const uint64_t stride = ((channels * 8 * uint64_t{width} + 31) >> 3) & ~uint64_t{3};
  const uint64_t pixel_bytes = stride * height;
  dib->clear();
  dib->reserve(kInfoHeaderSize + pixel_bytes);
  AppendDibHeader(width, height, channels, pixel_bytes, dib);
  const size_t row_bytes = size_t{width} * channels;
  for (uint32_t y = height; y-- > 0;) {
    dib->append(pixels.data() + y * row_bytes, row_bytes);
    dib->append(stride - row_bytes, '\0');
  }
}

bool PngFromPlainBmp(std::string_view file, std::string* png) {
  PlainBmpLayout bmp;
  if (!FindPlainBmpRows(file, &bmp)) return false;
  return EncodePng(bmp.Pixels(reinterpret_cast<const uint8_t*>(file.data())), png);
}

PlainBmpPngStream::PlainBmpPngStream() = default;
PlainBmpPngStream::~PlainBmpPngStream() = default;

void PlainBmpPngStream::Expect(size_t bytes) {
  if (file_.capacity() - file_.size() >= bytes) return;
  // Workers read the rows where they lie: none may be reading while the bytes move.
  if (encoder_ != nullptr) encoder_->Pause();
  file_.reserve(file_.size() + bytes);
  // A 4K bitmap is 25 MB written once: 6,000 page faults, or a dozen with large pages.
  AdviseLargePages(file_.data() + file_.size(), file_.capacity() - file_.size());
  if (encoder_ != nullptr) encoder_->Arrived(Bytes(), file_.size());
}

void PlainBmpPngStream::Append(std::string_view piece) {
  Expect(piece.size());
  file_.append(piece);
  if (!header_read_ && file_.size() >= kFileHeaderSize + kInfoHeaderSize) {
    header_read_ = true;
    PlainBmpLayout bmp;
    if (ReadPlainBmpLayout(file_, &bmp)) {
      encoder_ = std::make_unique<PngStreamEncoder>(bmp.Pixels(nullptr), bmp.TopRowOffset(),
                                                    kPngBandBytes);
    }
  }
  if (encoder_ != nullptr) encoder_->Arrived(Bytes(), file_.size());
}

bool PlainBmpPngStream::Finish(std::string* png) {
  png->clear();
  PlainBmpLayout bmp;
  return encoder_ != nullptr && FindPlainBmpRows(file_, &bmp) && encoder_->Finish(png);
}

std::string PlainBmpPngStream::TakeFile() {
  encoder_.reset();
  return std::move(file_);
}

const uint8_t* PlainBmpPngStream::Bytes() const {
  return reinterpret_cast<const uint8_t*>(file_.data());
}

bool PackedDibFromImage(std::string_view image_bytes, std::string* dib) {
  if (PackedDibFromPlainBmp(image_bytes, dib)) return true;
  const ImageCodecs* codecs = GetImageCodecs();
  return codecs != nullptr && codecs->to_dib(image_bytes, dib);
}
