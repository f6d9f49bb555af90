#include "text/base64.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kLineChars = 76;
constexpr size_t kLineBytes = kLineChars / 4 * 3;  // 57

// The two output characters of every 12-bit value: one lookup per half of a 3-byte group.
struct PairTable {
  char pairs[4096][2];
  constexpr PairTable() : pairs() {
    for (int i = 0; i < 4096; ++i) {
      pairs[i][0] = kAlphabet[i >> 6];
      pairs[i][1] = kAlphabet[i & 63];
    }
  }
};
constexpr PairTable kPairs;

inline void PutPair(char* out, uint32_t twelve_bits) {
  std::memcpy(out, kPairs.pairs[twelve_bits], 2);
}

// Encodes whole groups: 3*groups bytes to 4*groups characters.
inline char* EncodeGroups(const unsigned char* in, size_t groups, char* out) {
  for (size_t g = 0; g < groups; ++g, in += 3, out += 4) {
    uint32_t value = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
    PutPair(out, value >> 12);
    PutPair(out + 2, value & 0xFFF);
  }
  return out;
}

// The 8 bytes at in as a big-endian number.
inline uint64_t LoadBigEndian64(const unsigned char* in) {
  uint64_t value;
  std::memcpy(&value, in, 8);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  value = __builtin_bswap64(value);
#endif
  return value;
}

// One whole line: 57 bytes to 76 characters, two groups per 8-byte load. The loads of the
// nine double groups end at byte 56 of the line, so nothing past the line is read.
inline char* EncodeLine(const unsigned char* in, char* out) {
  for (int pair = 0; pair < 9; ++pair, in += 6, out += 8) {
    uint64_t value = LoadBigEndian64(in);
    PutPair(out, (value >> 52) & 0xFFF);
    PutPair(out + 2, (value >> 40) & 0xFFF);
    PutPair(out + 4, (value >> 28) & 0xFFF);
    PutPair(out + 6, (value >> 16) & 0xFFF);
  }
  return EncodeGroups(in, 1, out);
}

}  // namespace

size_t Base64BufferSize(size_t length) {
  size_t chars = (length + 2) / 3 * 4;
  return chars + 2 * ((chars + kLineChars - 1) / kLineChars) + 1;
}

namespace {

// Base64 lines, each followed by line_end: "\r\n" as the record format has it, or the four
// characters of its JSON escapes.
template <size_t kLineEndSize>
size_t EncodeLines(const unsigned char* data, size_t length, char* out,
                   const char (&line_end)[kLineEndSize + 1]) {
  char* start = out;
  size_t full_lines = length / kLineBytes;
  for (size_t line = 0; line < full_lines; ++line) {
    out = EncodeLine(data, out);
    data += kLineBytes;
    std::memcpy(out, line_end, kLineEndSize);
    out += kLineEndSize;
  }
  size_t rest = length - full_lines * kLineBytes;
  if (rest > 0) {
    out = EncodeGroups(data, rest / 3, out);
    data += rest / 3 * 3;
    size_t tail = rest % 3;
    if (tail > 0) {
      uint32_t value = uint32_t{data[0]} << 16;
      if (tail == 2) value |= uint32_t{data[1]} << 8;
      *out++ = kAlphabet[(value >> 18) & 63];
      *out++ = kAlphabet[(value >> 12) & 63];
      *out++ = tail == 2 ? kAlphabet[(value >> 6) & 63] : '=';
      *out++ = '=';
    }
    std::memcpy(out, line_end, kLineEndSize);
    out += kLineEndSize;
  }
  return static_cast<size_t>(out - start);
}

}  // namespace

size_t Base64Encode(const unsigned char* data, size_t length, char* out) {
  size_t written = EncodeLines<2>(data, length, out, "\r\n");
  out[written] = '\0';
  return written;
}

size_t Base64EscapedSize(size_t length) {
  size_t chars = (length + 2) / 3 * 4;
  return chars + 4 * ((chars + kLineChars - 1) / kLineChars);
}

size_t Base64EncodeEscaped(const unsigned char* data, size_t length, char* out) {
  return EncodeLines<4>(data, length, out, "\\r\\n");
}

std::string Base64Encode(std::string_view data) {
  std::string text(Base64BufferSize(data.size()), '\0');
  size_t written =
      Base64Encode(reinterpret_cast<const unsigned char*>(data.data()), data.size(), text.data());
  text.resize(written);
  return text;
}
