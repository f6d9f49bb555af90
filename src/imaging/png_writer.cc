#include "imaging/png_writer.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr int kDeflateLevel = 2;
// Rows are compressed in bands of about this many filtered bytes, on up to kMaxThreads threads.
// Each band starts without history, which costs little at this size: a 4K screenshot in six
// bands comes out within 0.05% of one stream's size, and the bands keep two threads busy.
constexpr size_t kBandBytes = size_t{4} << 20;
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

// One filtered line: its filter byte, then each byte minus the byte above it (Up), or the
// bytes themselves on the first line. Up commutes with reordering the channels, so BGR rows
// are differenced and reordered in the same pass.
void FilterRow(const uint8_t* row, const uint8_t* above, uint32_t width, PixelOrder order,
               uint8_t* out) {
  static const uint8_t kZeros[4] = {0, 0, 0, 0};
  *out++ = above == nullptr ? kFilterNone : kFilterUp;
  const size_t channels = Channels(order);
  const size_t bytes = channels * width;
  if (order == PixelOrder::kRgb || order == PixelOrder::kRgba) {
    if (above == nullptr) {
      std::memcpy(out, row, bytes);
    } else {
      for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(row[i] - above[i]);
    }
    return;
  }
  const size_t above_step = above == nullptr ? 0 : channels;
  if (above == nullptr) above = kZeros;
  for (size_t x = 0; x < width; ++x, row += channels, above += above_step, out += channels) {
    out[0] = static_cast<uint8_t>(row[2] - above[2]);
    out[1] = static_cast<uint8_t>(row[1] - above[1]);
    out[2] = static_cast<uint8_t>(row[0] - above[0]);
    if (channels == 4) out[3] = static_cast<uint8_t>(row[3] - above[3]);
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

// libdeflate ends every stream it writes with a block marked final, and has no flush. So a band
// that other bands follow is walked by zlib's inflate, which stops at each block boundary: the
// last boundary is where the final block starts, whose mark is cleared; then an empty stored
// block, as a sync flush writes it, brings the stream to a whole byte for the next band.
bool MakeContinuable(std::string* band) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(band->data());
  z.avail_in = static_cast<uInt>(band->size());
  Bytef sink[1 << 15];
  uint64_t final_block_bit = 0;
  int unused_bits = -1;  // in the last byte, once the final block has ended
  while (unused_bits < 0) {
    z.next_out = sink;
    z.avail_out = sizeof sink;
    if (inflate(&z, Z_BLOCK) != Z_OK) break;
    // 128: just past a block's end; 64: that block was the final one; the low bits count
    // what the last byte read leaves unused.
    if ((z.data_type & 128) == 0) continue;
    if ((z.data_type & 64) != 0) {
      unused_bits = z.data_type & 7;
    } else {
      final_block_bit = uint64_t{z.total_in} * 8 - (z.data_type & 7);
    }
  }
  const bool whole = unused_bits >= 0 && z.total_in == band->size();
  inflateEnd(&z);
  if (!whole || band->empty()) return false;
  (*band)[final_block_bit / 8] &= static_cast<char>(~(1u << (final_block_bit % 8)));
  band->back() &= static_cast<char>(0xFF >> unused_bits);
  // The stored block's 3 header bits go where the last byte has room, else into a new byte.
  if (unused_bits < 3) band->push_back('\0');
  band->append("\0\0\xFF\xFF", 4);
  return true;
}

struct Band {
  uint32_t first_row = 0;
  uint32_t rows = 0;
  std::string deflate;  // raw; ends on a byte boundary unless it is the last band
  uint32_t adler = 1;
  bool done = false;
};

// Filters and compresses bands taken in turn from *next until none is left.
void CompressBands(const PngPixels& pixels, size_t line, size_t band_rows, std::vector<Band>* bands,
                   std::atomic<size_t>* next) {
  Compressor compressor = NewCompressor();
  std::unique_ptr<uint8_t[]> filtered(new (std::nothrow) uint8_t[band_rows * line]);
  if (compressor == nullptr || filtered == nullptr) return;
  std::string out;
  for (size_t i = (*next)++; i < bands->size(); i = (*next)++) {
    Band& band = (*bands)[i];
    const size_t size = band.rows * line;
    FilterRows(pixels, line, band.first_row, band.rows, filtered.get());
    band.adler = libdeflate_adler32(1, filtered.get(), size);
    out.resize(libdeflate_deflate_compress_bound(compressor.get(), size));
    out.resize(libdeflate_deflate_compress(compressor.get(), filtered.get(), size, out.data(),
                                           out.size()));
    band.deflate = out;
    band.done = !out.empty() && (i + 1 == bands->size() || MakeContinuable(&band.deflate));
  }
}

// A large picture: row bands compressed on several threads, each band's stream on its own (a
// band loses only the few matches it could have found in the band before), joined into one
// zlib stream whose check value is combined from the bands'.
bool CompressInBands(const PngPixels& pixels, size_t line, size_t band_rows, std::string* stream) {
  std::vector<Band> bands;
  for (uint32_t first = 0; first < pixels.height; first += static_cast<uint32_t>(band_rows)) {
    Band band;
    band.first_row = first;
    band.rows = static_cast<uint32_t>(std::min<size_t>(band_rows, pixels.height - first));
    bands.push_back(std::move(band));
  }
  std::atomic<size_t> next{0};
  const size_t threads = std::min<size_t>(
      {std::max(1u, std::thread::hardware_concurrency()), kMaxThreads, bands.size()});
  std::vector<std::thread> helpers;
  for (size_t t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(CompressBands, std::cref(pixels), line, band_rows, &bands, &next);
    } catch (const std::system_error&) {
      break;  // the bands left are compressed here
    }
  }
  CompressBands(pixels, line, band_rows, &bands, &next);
  for (std::thread& helper : helpers) helper.join();
  stream->assign("\x78\x5E", 2);  // deflate, 32 KiB window, a fast level
  uLong adler = 1;
  for (const Band& band : bands) {
    if (!band.done) return false;
    stream->append(band.deflate);
    adler = adler32_combine(adler, band.adler, static_cast<z_off_t>(band.rows * line));
  }
  Append32(stream, static_cast<uint32_t>(adler));
  return true;
}
}  // namespace

bool EncodePng(const PngPixels& pixels, std::string* png) {
  return EncodePngInBands(pixels, kBandBytes, png);
}

bool EncodePngInBands(const PngPixels& pixels, size_t band_bytes, std::string* png) {
  png->clear();
  if (pixels.top_row == nullptr || pixels.width == 0 || pixels.height == 0 ||
      pixels.width > kMaxDimension || pixels.height > kMaxDimension) {
    return false;
  }
  const size_t line = Channels(pixels.order) * size_t{pixels.width} + 1;
  if (line - 1 > static_cast<size_t>(pixels.stride < 0 ? -pixels.stride : pixels.stride)) {
    return false;
  }
  const size_t band_rows = std::max<size_t>(1, band_bytes / line);
  std::string stream;
  try {
    const bool compressed = band_rows >= pixels.height
                                ? CompressWhole(pixels, line, &stream)
                                : CompressInBands(pixels, line, band_rows, &stream);
    if (!compressed) return false;
    *png = Header(pixels);
    png->reserve(png->size() + stream.size() + 12 * (stream.size() / kMaxChunkData + 2));
  } catch (const std::bad_alloc&) {
    png->clear();
    return false;
  }
  const std::string_view compressed(stream);
  for (size_t at = 0; at < compressed.size(); at += kMaxChunkData) {
    AppendChunk(png, "IDAT", compressed.substr(at, kMaxChunkData));
  }
  AppendChunk(png, "IEND", {});
  return true;
}
