#include "imaging/png_writer.h"

#include <libdeflate.h>

#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace {

constexpr int kDeflateLevel = 2;
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
  ihdr.push_back(8);                                // bits per sample
  ihdr.push_back(Channels(pixels.order) == 4 ? 6 : 2);  // RGBA : RGB
  ihdr.append(3, '\0');  // deflate, adaptive filtering, no interlace
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

}  // namespace

bool EncodePng(const PngPixels& pixels, std::string* png) {
  png->clear();
  if (pixels.top_row == nullptr || pixels.width == 0 || pixels.height == 0 ||
      pixels.width > kMaxDimension || pixels.height > kMaxDimension) {
    return false;
  }
  const size_t line = Channels(pixels.order) * size_t{pixels.width} + 1;
  if (line - 1 > static_cast<size_t>(pixels.stride < 0 ? -pixels.stride : pixels.stride)) {
    return false;
  }
  const size_t filtered_size = line * pixels.height;
  // Left uninitialised: every byte is written by the filter pass.
  std::unique_ptr<uint8_t[]> filtered(new (std::nothrow) uint8_t[filtered_size]);
  if (filtered == nullptr) return false;
  const uint8_t* above = nullptr;
  for (uint32_t y = 0; y < pixels.height; ++y) {
    const uint8_t* row = pixels.top_row + static_cast<ptrdiff_t>(y) * pixels.stride;
    FilterRow(row, above, pixels.width, pixels.order, filtered.get() + y * line);
    above = row;
  }
  std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> compressor(
      libdeflate_alloc_compressor(kDeflateLevel), libdeflate_free_compressor);
  if (compressor == nullptr) return false;
  const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), filtered_size);
  std::unique_ptr<uint8_t[]> stream(new (std::nothrow) uint8_t[bound]);
  if (stream == nullptr) return false;
  const size_t stream_size = libdeflate_zlib_compress(compressor.get(), filtered.get(),
                                                      filtered_size, stream.get(), bound);
  if (stream_size == 0) return false;
  filtered.reset();
  *png = Header(pixels);
  png->reserve(png->size() + stream_size + 12 * (stream_size / kMaxChunkData + 2));
  const std::string_view compressed(reinterpret_cast<const char*>(stream.get()), stream_size);
  for (size_t at = 0; at < stream_size; at += kMaxChunkData) {
    AppendChunk(png, "IDAT", compressed.substr(at, kMaxChunkData));
  }
  AppendChunk(png, "IEND", {});
  return true;
}
