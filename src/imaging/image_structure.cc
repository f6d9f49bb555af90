#include "imaging/image_structure.h"

#include <libdeflate.h>

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>

#include "imaging/image_signature.h"
#include "imaging/image_utils.h"

namespace {

// The chunks start after the 8-byte signature.
constexpr size_t kPngSignatureBytes = 8;
// The PNG reader refuses input shorter than the smallest whole PNG, even when only its headers
// are read; the header part handed out is never shorter than this (when the file is not).
constexpr size_t kMinHeaderBytes = 64;
constexpr uint32_t kMaxPngChunkLength = 0x7FFFFFFF;  // the format's own limit

uint32_t Big32(std::string_view bytes, size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint16_t Big16(std::string_view bytes, size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// The decoder refuses a critical chunk with a bad CRC; an ancillary one it only warns about
// and skips, so the walk does not hold those against the file either.
bool CriticalChunkCrcHolds(std::string_view bytes, size_t at, uint32_t length) {
  bool critical = (bytes[at + 4] & 0x20) == 0;
  if (!critical) return true;
  // libdeflate's CRC (carry-less multiplication) takes half the time of zlib's or less: an
  // encode of 50 MB of pictures checks every byte of them.
  return libdeflate_crc32(0, bytes.data() + at + 4, size_t{length} + 4) ==
         Big32(bytes, at + 8 + length);
}

// Deflate turns at most 258 bytes into 2 bits, so no stream expands by more than this.
constexpr double kMaxDeflateRatio = 1032;

// Whether image data of idat_bytes can hold the pixels the IHDR chunk at `at` declares: a
// header that claims far more pixels than its data could ever hold would otherwise make a
// decoder allocate for all of them.
bool DataCanHoldPixels(std::string_view bytes, size_t at, uint64_t idat_bytes) {
  static const int kChannels[] = {1, 0, 3, 1, 2, 0, 4};  // by colour type
  auto depth = static_cast<unsigned char>(bytes[at + 16]);
  auto colour = static_cast<unsigned char>(bytes[at + 17]);
  int channels = colour < 7 ? kChannels[colour] : 0;
  double pixel_bytes =
      static_cast<double>(Big32(bytes, at + 8)) * Big32(bytes, at + 12) * depth * channels / 8;
  return channels > 0 && pixel_bytes <= static_cast<double>(idat_bytes) * kMaxDeflateRatio;
}

ImageStructure WalkPng(std::string_view bytes, size_t* header_bytes) {
  size_t at = kPngSignatureBytes;
  size_t header = 0;
  uint64_t idat_bytes = 0;
  bool first = true;
  while (bytes.size() - at >= 12) {
    uint32_t length = Big32(bytes, at);
    if (length > kMaxPngChunkLength || length > bytes.size() - at - 12) break;
    std::string_view type = bytes.substr(at + 4, 4);
    if (first && (type != "IHDR" || length != 13)) break;
    first = false;
    if (!CriticalChunkCrcHolds(bytes, at, length)) break;
    if (type == "IDAT") {
      if (header == 0) header = at + 8;
      idat_bytes += length;
    }
    if (type == "IEND") {
      if (header == 0 || !DataCanHoldPixels(bytes, kPngSignatureBytes, idat_bytes)) break;
      *header_bytes = std::max(header, std::min(kMinHeaderBytes, bytes.size()));
      assert(*header_bytes <= bytes.size());
      return ImageStructure::kWhole;
    }
    at += size_t{length} + 12;
  }
  return ImageStructure::kBroken;
}

bool IsFrameMarker(unsigned char marker) {
  // SOF0-SOF15 except DHT (C4), JPG (C8) and DAC (CC).
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// The offset of the marker that ends the entropy-coded data starting at `at` (its first 0xFF),
// or the file's size when the data runs to the end. Stuffed zeros and restart markers belong to
// the data.
size_t SkipEntropyData(std::string_view bytes, size_t at) {
  const char* data = bytes.data();
  while (at < bytes.size()) {
    const void* found = std::memchr(data + at, 0xFF, bytes.size() - at);
    if (found == nullptr) return bytes.size();
    size_t mark = static_cast<size_t>(static_cast<const char*>(found) - data);
    if (mark + 1 >= bytes.size()) return bytes.size();
    auto next = static_cast<unsigned char>(data[mark + 1]);
    if (next != 0x00 && (next < 0xD0 || next > 0xD7)) return mark;
    at = mark + 2;
  }
  return bytes.size();
}

ImageStructure WalkJpeg(std::string_view bytes, size_t* header_bytes) {
  auto byte = [&](size_t at) { return static_cast<unsigned char>(bytes[at]); };
  size_t at = 2;  // after SOI
  size_t header = 0;
  bool frame = false;
  while (at < bytes.size() && byte(at) == 0xFF) {
    while (at < bytes.size() && byte(at) == 0xFF) ++at;  // fill bytes
    if (at >= bytes.size()) break;
    unsigned char marker = byte(at++);
    if (marker == 0xD9) {
      if (header == 0) break;
      *header_bytes = std::max(header, std::min(kMinHeaderBytes, bytes.size()));
      assert(*header_bytes <= bytes.size());
      return ImageStructure::kWhole;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
    if (marker == 0x00 || marker == 0xD8 || bytes.size() - at < 2) break;
    uint16_t length = Big16(bytes, at);
    if (length < 2 || length > bytes.size() - at) break;
    at += length;
    frame = frame || IsFrameMarker(marker);
    if (marker == 0xDA) {
      if (!frame) break;
      if (header == 0) header = at;
      at = SkipEntropyData(bytes, at);
    }
  }
  return ImageStructure::kBroken;
}

}  // namespace

ImageStructure WalkImageStructure(std::string_view bytes, size_t* header_bytes) {
  switch (SignatureOf(bytes)) {
    case ImageSignature::kPng:
      return WalkPng(bytes, header_bytes);
    case ImageSignature::kJpeg:
      return WalkJpeg(bytes, header_bytes);
    default:
      return ImageStructure::kNotWalkable;
  }
}

namespace {

constexpr uint32_t kMaxPlainSide = 1000000;
// The reader refuses an ancillary chunk larger than its allocation limit (8 MB); far below it.
constexpr uint32_t kMaxPlainAncillary = 65536;
constexpr uint32_t kMaxPaletteBytes = 3 * 256;

bool DepthFitsColour(unsigned depth, unsigned colour) {
  switch (colour) {
    case 0:  // grey
      return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:  // palette
      return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:  // RGB
    case 4:  // grey and alpha
    case 6:  // RGBA
      return depth == 8 || depth == 16;
    default:
      return false;
  }
}

// Ancillary chunks whose every fault the reader only warns about and skips.
bool IsBenignAncillary(std::string_view type) {
  static constexpr std::string_view kBenign[] = {"gAMA", "cHRM", "sRGB", "pHYs", "tEXt",
                                                 "tIME", "bKGD", "sBIT", "tRNS"};
  return std::find(std::begin(kBenign), std::end(kBenign), type) != std::end(kBenign);
}

}  // namespace

bool PngHeaderIsPlain(std::string_view header) {
  // The walk checked the signature and that IHDR comes first with 13 bytes.
  constexpr size_t kIhdrData = kPngSignatureBytes + 8;
  if (SignatureOf(header) != ImageSignature::kPng || header.size() < kIhdrData + 13 + 4)
    return false;
  uint32_t width = Big32(header, kIhdrData);
  uint32_t height = Big32(header, kIhdrData + 4);
  auto field = [&](size_t k) { return static_cast<unsigned char>(header[kIhdrData + 8 + k]); };
  unsigned colour = field(1);
  if (width == 0 || height == 0 || width > kMaxPlainSide || height > kMaxPlainSide ||
      uint64_t{width} * height > static_cast<uint64_t>(kMaxImagePixels) ||
      !DepthFitsColour(field(0), colour) || field(2) != 0 || field(3) != 0 || field(4) > 1) {
    return false;
  }
  bool palette = false;
  for (size_t at = kIhdrData + 13 + 4; header.size() - at >= 8;) {
    uint32_t length = Big32(header, at);
    std::string_view type = header.substr(at + 4, 4);
    if (type == "IDAT") return colour != 3 || palette;
    if (type == "PLTE") {
      if (palette || colour == 0 || colour == 4 || length == 0 || length % 3 != 0 ||
          length > kMaxPaletteBytes) {
        return false;
      }
      palette = true;
    } else if (!IsBenignAncillary(type) || length > kMaxPlainAncillary ||
               (colour == 3 && !palette && (type == "tRNS" || type == "bKGD"))) {
      return false;
    }
    if (length > header.size() - at - 12) return false;
    at += size_t{length} + 12;
  }
  return false;
}
