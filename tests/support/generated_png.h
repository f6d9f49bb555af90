#ifndef ORVO_TESTS_SUPPORT_GENERATED_PNG_H_
#define ORVO_TESTS_SUPPORT_GENERATED_PNG_H_

// PNG files built byte by byte, with no image library involved, so that the same arguments give
// the same bytes on every machine and with every library version: pixels from a fixed
// pseudo-random sequence, stored (uncompressed) deflate blocks, no time or text chunks.

#include <algorithm>
#include <cstdint>
#include <string>

namespace generated_png {

inline uint32_t Crc32(const char* data, size_t size, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc ^= static_cast<unsigned char>(data[i]);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

inline void PutBig32(std::string* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>(value >> shift));
}

// Appends a chunk: length, type, data, CRC of type and data.
inline void PutChunk(std::string* png, const char type[4], const std::string& data) {
  PutBig32(png, static_cast<uint32_t>(data.size()));
  std::string typed = std::string(type, 4) + data;
  png->append(typed);
  PutBig32(png, Crc32(typed.data(), typed.size()));
}

// A zlib stream of stored blocks holding raw.
inline std::string StoredZlib(const std::string& raw) {
  std::string out = "\x78\x01";
  size_t at = 0;
  do {
    size_t block = std::min<size_t>(raw.size() - at, 65535);
    bool last = at + block == raw.size();
    out.push_back(last ? 1 : 0);
    out.push_back(static_cast<char>(block & 0xFF));
    out.push_back(static_cast<char>(block >> 8));
    out.push_back(static_cast<char>(~block & 0xFF));
    out.push_back(static_cast<char>((~block >> 8) & 0xFF));
    out.append(raw, at, block);
    at += block;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  PutBig32(&out, (b << 16) | a);
  return out;
}

// An 8-bit RGB picture of width x height noise pixels (seeded by seed), its image data split
// into IDAT chunks of at most idat_size bytes.
inline std::string NoisePng(uint32_t width, uint32_t height, uint32_t seed,
                            size_t idat_size = 65536) {
  std::string raw;
  raw.reserve((width * 3 + 1) * static_cast<size_t>(height));
  uint32_t x = seed;
  for (uint32_t row = 0; row < height; ++row) {
    raw.push_back('\0');  // filter type None
    for (uint32_t i = 0; i < width * 3; ++i) {
      x = x * 1103515245u + 12345u;
      raw.push_back(static_cast<char>(x >> 23));
    }
  }
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  PutBig32(&header, width);
  PutBig32(&header, height);
  header.append("\x08\x02\x00\x00\x00", 5);  // depth 8, RGB, deflate, no filter, no interlace
  PutChunk(&png, "IHDR", header);
  std::string data = StoredZlib(raw);
  for (size_t at = 0; at < data.size(); at += idat_size) {
    PutChunk(&png, "IDAT", data.substr(at, idat_size));
  }
  PutChunk(&png, "IEND", "");
  return png;
}

}  // namespace generated_png

#endif  // ORVO_TESTS_SUPPORT_GENERATED_PNG_H_
