#include "protocol/json_escape.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// Sixteen bytes as one vector: the compiler turns the comparisons below into a few SIMD
// instructions on every target (SSE2 on x86-64, NEON on ARM) without intrinsics of either.
typedef unsigned char Block __attribute__((vector_size(16)));
typedef signed char BlockFlags __attribute__((vector_size(16)));  // 0 or -1 per byte

Block Load(const char* p) {
  Block block;
  std::memcpy(&block, p, sizeof block);
  return block;
}

BlockFlags NeedsEscape(Block b) { return (b < 0x20) | (b == '"') | (b == '\\'); }

// Controls without a two-character escape take \u00XX, four characters more.
BlockFlags TakesLongEscape(Block b) {
  BlockFlags short_control = (Block(b - 8) < 3) | (Block(b - 12) < 2);  // \b \t \n, \f \r
  return (b < 0x20) & ~short_control;
}

// The flags of a block as two 64-bit halves, eight bits per byte.
struct Halves {
  uint64_t low;
  uint64_t high;
};

Halves Split(BlockFlags flags) {
  Halves halves;
  std::memcpy(&halves, &flags, sizeof halves);
  return halves;
}

bool NeedsEscape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

// The first byte at or after p that must be escaped, or end.
const char* NextToEscape(const char* p, const char* end) {
  for (; end - p >= 16; p += 16) {
    Halves h = Split(NeedsEscape(Load(p)));
    if (h.low != 0) return p + (__builtin_ctzll(h.low) >> 3);
    if (h.high != 0) return p + 8 + (__builtin_ctzll(h.high) >> 3);
  }
  while (p != end && !NeedsEscape(static_cast<unsigned char>(*p))) ++p;
  return p;
}

// Writes the escape of c at out (room for 6) and returns its length.
size_t EscapeOf(unsigned char c, char* out) {
  static const char kHex[] = "0123456789ABCDEF";
  out[0] = '\\';
  switch (c) {
    case '"':
      out[1] = '"';
      return 2;
    case '\\':
      out[1] = '\\';
      return 2;
    case '\b':
      out[1] = 'b';
      return 2;
    case '\f':
      out[1] = 'f';
      return 2;
    case '\n':
      out[1] = 'n';
      return 2;
    case '\r':
      out[1] = 'r';
      return 2;
    case '\t':
      out[1] = 't';
      return 2;
    default:
      out[1] = 'u';
      out[2] = '0';
      out[3] = '0';
      out[4] = kHex[c >> 4];
      out[5] = kHex[c & 0xF];
      return 6;
  }
}

size_t Sum(Block counts) {
  size_t sum = 0;
  for (int k = 0; k < 16; ++k) sum += counts[k];
  return sum;
}

}  // namespace

size_t EscapedSize(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  size_t size = text.size();
  while (end - p >= 16) {
    // Counted per byte position in the vector (a flag is -1: subtracting it adds one), for at
    // most 255 blocks so no counter overflows, then summed.
    Block escapes = {};
    Block long_escapes = {};
    size_t blocks = std::min<size_t>(static_cast<size_t>(end - p) / 16, 255);
    for (size_t k = 0; k < blocks; ++k, p += 16) {
      Block block = Load(p);
      escapes -= reinterpret_cast<Block>(NeedsEscape(block));
      long_escapes -= reinterpret_cast<Block>(TakesLongEscape(block));
    }
    size += Sum(escapes) + 4 * Sum(long_escapes);
  }
  char escape[6];
  for (; p != end; ++p) {
    auto c = static_cast<unsigned char>(*p);
    if (NeedsEscape(c)) size += EscapeOf(c, escape) - 1;
  }
  return size;
}

void AppendEscaped(std::string_view text, std::string& out) {
  const char* p = text.data();
  const char* end = p + text.size();
  for (;;) {
    const char* special = NextToEscape(p, end);
    out.append(p, special);
    if (special == end) return;
    char escape[6];
    out.append(escape, EscapeOf(static_cast<unsigned char>(*special), escape));
    p = special + 1;
  }
}

size_t WriteEscapedFrom(std::string_view text, size_t at, EscapeCursor& cursor, char* out,
                        size_t capacity) {
  if (at < cursor.written) cursor = EscapeCursor();
  const char* begin = text.data();
  const char* end = begin + text.size();
  const char* p = begin + cursor.read;
  size_t written = cursor.written;  // the characters of the text before p
  size_t n = 0;
  // Invariant: written <= at + n. A run or escape wholly before `at` is passed over; the rest
  // is copied from the character at + n on.
  while (n < capacity && p != end) {
    const char* special = NextToEscape(p, end);
    auto run = static_cast<size_t>(special - p);
    if (at + n < written + run) {
      size_t skip = at + n - written;
      size_t take = std::min(run - skip, capacity - n);
      std::memcpy(out + n, p + skip, take);
      n += take;
      if (skip + take < run) {  // out is full inside the run: leave off there
        p += skip + take;
        written += skip + take;
        break;
      }
    }
    written += run;
    p = special;
    if (p == end) break;
    // An archive's line end, once every 78 bytes of its base64: both escapes in one step.
    if (at + n == written && capacity - n >= 4 && *p == '\r' && end - p >= 2 && p[1] == '\n') {
      std::memcpy(out + n, "\\r\\n", 4);
      n += 4;
      written += 4;
      p += 2;
      continue;
    }
    char escape[6];
    size_t length = EscapeOf(static_cast<unsigned char>(*p), escape);
    if (at + n < written + length) {
      size_t skip = at + n - written;
      size_t take = std::min(length - skip, capacity - n);
      std::memcpy(out + n, escape + skip, take);
      n += take;
      if (skip + take < length) break;  // the cursor stays before the escape cut in two
    }
    written += length;
    ++p;
  }
  cursor.read = static_cast<size_t>(p - begin);
  cursor.written = written;
  return n;
}
