#include "imaging/png_writer.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "imaging/deflate_end.h"

namespace {

constexpr int kDeflateLevel = 2;
// Bands are compressed on up to this many threads.
constexpr size_t kMaxThreads = 4;
constexpr uint32_t kMaxChunkData = uint32_t{1} << 30;  // the format allows up to 2^31 - 1
constexpr uint32_t kMaxDimension = 0x7FFFFFFF;
constexpr uint8_t kFilterNone = 0;
constexpr uint8_t kFilterUp = 2;

void Append32(std::string* s, uint32_t v) {
  const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                         static_cast<char>(v >> 8), static_cast<char>(v)};
  s->append(bytes, 4);
}

void AppendChunk(std::string* png, const char type[4], std::string_view data) {
  Append32(png, static_cast<uint32_t>(data.size()));
  const size_t type_at = png->size();
  png->append(type, 4);
  png->append(data.data(), data.size());
  Append32(png, libdeflate_crc32(0, png->data() + type_at, 4 + data.size()));
}

size_t Channels(PixelOrder order) {
  return order == PixelOrder::kRgba || order == PixelOrder::kBgra ? 4 : 3;
}

// Sixteen bytes as one vector: the compiler turns the arithmetic below into SIMD instructions
// on every target (SSE2 on x86-64, NEON on ARM) without intrinsics of either.
typedef uint8_t Block __attribute__((vector_size(16)));

// Reordering a pixel's channels is a byte shuffle, which x86-64's baseline lacks (SSSE3 has
// it): the functions that shuffle are built for both, and the loader picks what the processor
// runs. Without it a 4K BGR picture's rows took 20 ms to filter; with it, 5 ms.
#if defined(__x86_64__)
#define ORVO_SHUFFLING_FUNCTION __attribute__((target_clones("default", "ssse3")))
#else
#define ORVO_SHUFFLING_FUNCTION
#endif

Block Load(const uint8_t* p) {
  Block block;
  std::memcpy(&block, p, sizeof block);
  return block;
}

void Store(uint8_t* p, Block block) { std::memcpy(p, &block, sizeof block); }

// out[i] = row[i] - above[i], the Up filter of bytes already in the file's channel order.
void SubtractRow(const uint8_t* row, const uint8_t* above, size_t bytes, uint8_t* out) {
  size_t i = 0;
  for (; bytes - i >= sizeof(Block); i += sizeof(Block)) {
    Store(out + i, Block(Load(row + i) - Load(above + i)));
  }
  for (; i < bytes; ++i) out[i] = static_cast<uint8_t>(row[i] - above[i]);
}

// The same for BGR or BGRA pixels (3 or 4 channels), written as RGB or RGBA: Up commutes with
// reordering the channels, so both are done in one pass. above is null on the first line.
ORVO_SHUFFLING_FUNCTION
void SubtractRowSwapped(const uint8_t* row, const uint8_t* above, size_t channels, size_t bytes,
                        uint8_t* out) {
  size_t i = 0;
  if (above != nullptr && channels == 3) {
    // Four pixels a step; the vector's last four bytes are written again by the next step.
    for (; bytes - i >= sizeof(Block); i += 12) {
      Store(out + i, __builtin_shufflevector(Block(Load(row + i) - Load(above + i)), Block{}, 2, 1,
                                             0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15));
    }
  } else if (above != nullptr) {
    for (; bytes - i >= sizeof(Block); i += sizeof(Block)) {
      Store(out + i, __builtin_shufflevector(Block(Load(row + i) - Load(above + i)), Block{}, 2, 1,
                                             0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15));
    }
  }
  for (; i < bytes; i += channels) {
    const auto above_at = [&](size_t k) { return above == nullptr ? 0 : above[i + k]; };
    out[i] = static_cast<uint8_t>(row[i + 2] - above_at(2));
    out[i + 1] = static_cast<uint8_t>(row[i + 1] - above_at(1));
    out[i + 2] = static_cast<uint8_t>(row[i] - above_at(0));
    if (channels == 4) out[i + 3] = static_cast<uint8_t>(row[i + 3] - above_at(3));
  }
}

// One filtered line: its filter byte, then each byte minus the byte above it (Up), or the
// bytes themselves on the first line.
void FilterRow(const uint8_t* row, const uint8_t* above, uint32_t width, PixelOrder order,
               uint8_t* out) {
  *out++ = above == nullptr ? kFilterNone : kFilterUp;
  const size_t channels = Channels(order);
  const size_t bytes = channels * width;
  if (order == PixelOrder::kBgr || order == PixelOrder::kBgra) {
    SubtractRowSwapped(row, above, channels, bytes, out);
  } else if (above == nullptr) {
    std::memcpy(out, row, bytes);
  } else {
    SubtractRow(row, above, bytes, out);
  }
}

std::string Header(const PngPixels& pixels) {
  std::string ihdr;
  Append32(&ihdr, pixels.width);
  Append32(&ihdr, pixels.height);
  ihdr.push_back(8);                                    // bits per sample
  ihdr.push_back(Channels(pixels.order) == 4 ? 6 : 2);  // RGBA : RGB
  ihdr.append(3, '\0');                                 // deflate, adaptive filtering, no interlace
  std::string header("\x89PNG\r\n\x1a\n", 8);
  AppendChunk(&header, "IHDR", ihdr);
  if (pixels.x_pixels_per_meter > 0 && pixels.y_pixels_per_meter > 0) {
    std::string phys;
    Append32(&phys, pixels.x_pixels_per_meter);
    Append32(&phys, pixels.y_pixels_per_meter);
    phys.push_back(1);  // the unit is the metre
    AppendChunk(&header, "pHYs", phys);
  }
  return header;
}

using Compressor = std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)>;

Compressor NewCompressor() {
  return Compressor(libdeflate_alloc_compressor(kDeflateLevel), libdeflate_free_compressor);
}

// Rows [first, first + count) filtered into out, `line` bytes each.
void FilterRows(const PngPixels& pixels, size_t line, uint32_t first, uint32_t count,
                uint8_t* out) {
  for (uint32_t y = first; y < first + count; ++y, out += line) {
    const uint8_t* row = pixels.top_row + static_cast<ptrdiff_t>(y) * pixels.stride;
    FilterRow(row, y == 0 ? nullptr : row - pixels.stride, pixels.width, pixels.order, out);
  }
}

// A small picture: one zlib stream from one call.
bool CompressWhole(const PngPixels& pixels, size_t line, std::string* stream) {
  const size_t filtered_size = line * pixels.height;
  // Left uninitialised: every byte is written by the filter pass.
  std::unique_ptr<uint8_t[]> filtered(new (std::nothrow) uint8_t[filtered_size]);
  Compressor compressor = NewCompressor();
  if (filtered == nullptr || compressor == nullptr) return false;
  FilterRows(pixels, line, 0, pixels.height, filtered.get());
  stream->resize(libdeflate_zlib_compress_bound(compressor.get(), filtered_size));
  const size_t size = libdeflate_zlib_compress(compressor.get(), filtered.get(), filtered_size,
                                               stream->data(), stream->size());
  stream->resize(size);
  return size != 0;
}

// libdeflate ends every stream it writes with a block marked final, and has no flush. So in a
// band that other bands follow, the final block is found and its mark cleared; then an empty
// stored block, as a sync flush writes it, brings the stream to a whole byte for the next band.
bool MakeContinuable(std::string* band) {
  DeflateEnd end;
  if (!FindDeflateEnd(*band, &end)) return false;
  (*band)[end.final_block_bit / 8] &= static_cast<char>(~(1u << (end.final_block_bit % 8)));
  band->back() &= static_cast<char>(0xFF >> end.unused_bits);
  // The stored block's 3 header bits go where the last byte has room, else into a new byte.
  if (end.unused_bits < 3) band->push_back('\0');
  band->append("\0\0\xFF\xFF", 4);
  return true;
}

struct Band {
  uint32_t first_row = 0;
  uint32_t rows = 0;
  size_t needed = 0;    // bytes of the buffer that hold its rows and the row above them
  std::string deflate;  // raw; ends on a byte boundary unless it is the last band
  uint32_t adler = 1;
  bool done = false;
};

// What one thread compresses bands with, made once: buffers left uninitialised (every byte
// used is written first), so a band costs no clearing of megabytes nor fresh pages.
struct BandScratch {
  explicit BandScratch(size_t band_bytes)
      : compressor(NewCompressor()),
        filtered(new (std::nothrow) uint8_t[band_bytes]),
        out_size(compressor ? libdeflate_deflate_compress_bound(compressor.get(), band_bytes) : 0),
        out(new (std::nothrow) uint8_t[out_size]) {}
  bool ok() const { return compressor != nullptr && filtered != nullptr && out != nullptr; }

  Compressor compressor;
  std::unique_ptr<uint8_t[]> filtered;
  size_t out_size;
  std::unique_ptr<uint8_t[]> out;
};

// A band's rows filtered, checked and compressed.
void CompressBand(const PngPixels& pixels, size_t line, bool last, BandScratch* scratch,
                  Band* band) {
  const size_t size = band->rows * line;
  FilterRows(pixels, line, band->first_row, band->rows, scratch->filtered.get());
  band->adler = libdeflate_adler32(1, scratch->filtered.get(), size);
  const size_t compressed =
      libdeflate_deflate_compress(scratch->compressor.get(), scratch->filtered.get(), size,
                                  scratch->out.get(), scratch->out_size);
  band->deflate.reserve(compressed + 5);  // room for the join MakeContinuable appends
  band->deflate.assign(reinterpret_cast<const char*>(scratch->out.get()), compressed);
  band->done = compressed != 0 && (last || MakeContinuable(&band->deflate));
}

// The PNG file around a zlib stream of the filtered rows.
void WritePng(const PngPixels& pixels, std::string_view compressed, std::string* png) {
  *png = Header(pixels);
  png->reserve(png->size() + compressed.size() + 12 * (compressed.size() / kMaxChunkData + 2));
  for (size_t at = 0; at < compressed.size(); at += kMaxChunkData) {
    AppendChunk(png, "IDAT", compressed.substr(at, kMaxChunkData));
  }
  AppendChunk(png, "IEND", {});
}

// Whether the picture's size and row layout are ones the format and our filters can take.
bool WritableLayout(const PngPixels& pixels) {
  const size_t row_bytes = Channels(pixels.order) * size_t{pixels.width};
  return pixels.width != 0 && pixels.height != 0 && pixels.width <= kMaxDimension &&
         pixels.height <= kMaxDimension &&
         row_bytes <= static_cast<size_t>(pixels.stride < 0 ? -pixels.stride : pixels.stride);
}

}  // namespace

// Workers take bands in the order their rows complete. Each band is written by the one thread
// that took it and read by Finish after every worker has been joined.
struct PngStreamEncoder::State {
  PngPixels layout;  // top_row: the top row's place in the buffer as it lies now
  size_t top_row_offset = 0;
  size_t line = 0;
  size_t band_rows = 0;
  bool valid = false;
  std::vector<Band> bands;
  std::vector<size_t> order;  // band indices, fewest bytes needed first

  std::mutex mutex;
  std::condition_variable changed;
  const uint8_t* base = nullptr;
  size_t size = 0;
  size_t ready = 0;    // of order, bands whose rows have all arrived
  size_t taken = 0;    // of order, bands a thread has taken
  size_t reading = 0;  // bands being compressed now
  bool paused = false;
  bool stopping = false;
  std::vector<std::thread> workers;

  // Takes and compresses bands until none is left (or the encoder stops).
  void Work();
};

void PngStreamEncoder::State::Work() {
  BandScratch scratch(band_rows * line);
  if (!scratch.ok()) return;  // the other threads do the rest
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    changed.wait(
        lock, [this] { return stopping || taken == order.size() || (!paused && taken < ready); });
    if (stopping || taken == order.size()) return;
    const size_t index = order[taken++];
    PngPixels pixels = layout;
    pixels.top_row = base + top_row_offset;
    ++reading;
    lock.unlock();
    CompressBand(pixels, line, index + 1 == bands.size(), &scratch, &bands[index]);
    lock.lock();
    --reading;
    changed.notify_all();
  }
}

PngStreamEncoder::PngStreamEncoder(const PngPixels& layout, size_t top_row_offset,
                                   size_t band_bytes)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.layout = layout;
  s.top_row_offset = top_row_offset;
  s.line = Channels(layout.order) * size_t{layout.width} + 1;
  const size_t distance_to_bottom =
      size_t{layout.height - 1} * (layout.stride < 0 ? -layout.stride : 0);
  s.valid = WritableLayout(layout) && distance_to_bottom <= top_row_offset;
  if (!s.valid) return;
  s.band_rows = std::min<size_t>(layout.height, std::max<size_t>(1, band_bytes / s.line));
  const auto row_end = [&](uint32_t y) {
    return static_cast<size_t>(static_cast<ptrdiff_t>(top_row_offset) +
                               static_cast<ptrdiff_t>(y) * layout.stride) +
           (s.line - 1);
  };
  for (uint32_t first = 0; first < layout.height; first += static_cast<uint32_t>(s.band_rows)) {
    Band band;
    band.first_row = first;
    band.rows = static_cast<uint32_t>(std::min<size_t>(s.band_rows, layout.height - first));
    band.needed = std::max(row_end(first == 0 ? 0 : first - 1), row_end(first + band.rows - 1));
    s.bands.push_back(std::move(band));
    s.order.push_back(s.order.size());
  }
  std::stable_sort(s.order.begin(), s.order.end(),
                   [&s](size_t a, size_t b) { return s.bands[a].needed < s.bands[b].needed; });
}

PngStreamEncoder::~PngStreamEncoder() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
  }
  state_->changed.notify_all();
  for (std::thread& worker : state_->workers) worker.join();
}

void PngStreamEncoder::Arrived(const uint8_t* base, size_t size) {
  State& s = *state_;
  if (!s.valid) return;
  bool news = false;  // workers are woken only for a band to take, not for every piece
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.base = base;
    s.size = size;
    news = s.paused;
    s.paused = false;
    while (s.ready < s.order.size() && s.bands[s.order[s.ready]].needed <= size) {
      ++s.ready;
      news = true;
    }
  }
  if (news) s.changed.notify_all();
  if (s.ready == 0 || !s.workers.empty()) return;
  // The thread that calls Finish works too; until then it is busy filling the buffer, so a
  // picture that has not arrived whole gets a worker for every core.
  const size_t threads = std::min<size_t>(
      {std::max(1u, std::thread::hardware_concurrency()), kMaxThreads, s.bands.size()});
  const size_t workers = s.ready == s.order.size() ? threads - 1 : threads;
  for (size_t t = 0; t < workers; ++t) {
    try {
      s.workers.emplace_back(&State::Work, &s);
    } catch (const std::system_error&) {
      break;  // the bands left are compressed by Finish's thread
    }
  }
}

void PngStreamEncoder::Pause() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->paused = true;
  state_->changed.wait(lock, [this] { return state_->reading == 0; });
}

bool PngStreamEncoder::Finish(std::string* png) {
  State& s = *state_;
  png->clear();
  if (!s.valid || s.ready < s.order.size()) return false;
  s.Work();
  for (std::thread& worker : s.workers) worker.join();
  s.workers.clear();
  std::string stream("\x78\x5E", 2);  // deflate, 32 KiB window, a fast level
  uLong adler = 1;
  for (const Band& band : s.bands) {
    if (!band.done) return false;
    stream.append(band.deflate);
    adler = adler32_combine(adler, band.adler, static_cast<z_off_t>(band.rows * s.line));
  }
  Append32(&stream, static_cast<uint32_t>(adler));
  WritePng(s.layout, stream, png);
  return true;
}

bool EncodePng(const PngPixels& pixels, std::string* png) {
  return EncodePngInBands(pixels, kPngBandBytes, png);
}

bool EncodePngInBands(const PngPixels& pixels, size_t band_bytes, std::string* png) {
  png->clear();
  if (pixels.top_row == nullptr || !WritableLayout(pixels)) return false;
  const size_t line = Channels(pixels.order) * size_t{pixels.width} + 1;
  try {
    if (band_bytes / line >= pixels.height) {
      std::string stream;
      if (!CompressWhole(pixels, line, &stream)) return false;
      WritePng(pixels, stream, png);
      return true;
    }
    // The rows as a buffer that has arrived whole, from the lowest address of any row.
    const size_t below_top = size_t{pixels.height - 1} * (pixels.stride < 0 ? -pixels.stride : 0);
    const size_t above_top = size_t{pixels.height - 1} * (pixels.stride > 0 ? pixels.stride : 0);
    PngStreamEncoder encoder(pixels, below_top, band_bytes);
    encoder.Arrived(pixels.top_row - below_top, below_top + above_top + line - 1);
    return encoder.Finish(png);
  } catch (const std::bad_alloc&) {
    png->clear();
    return false;
  }
}
