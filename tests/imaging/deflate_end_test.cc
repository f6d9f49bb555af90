// The end of libdeflate's streams as zlib's inflate finds it, which stops at each block's end.
#include "imaging/deflate_end.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {

std::string Compress(const std::string& data, int level) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  std::string stream(libdeflate_deflate_compress_bound(compressor, data.size()), '\0');
  stream.resize(libdeflate_deflate_compress(compressor, data.data(), data.size(), stream.data(),
                                            stream.size()));
  libdeflate_free_compressor(compressor);
  return stream;
}

// The reference: inflate block by block, noting where each block ends.
DeflateEnd InflatedEnd(const std::string& stream) {
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = static_cast<uInt>(stream.size());
  std::vector<Bytef> sink(1 << 16);
  DeflateEnd end;
  for (bool final = false; !final;) {
    z.next_out = sink.data();
    z.avail_out = static_cast<uInt>(sink.size());
    if (inflate(&z, Z_BLOCK) != Z_OK) break;
    if ((z.data_type & 128) == 0) continue;  // not at a block's end
    final = (z.data_type & 64) != 0;
    const uint64_t bit = uint64_t{z.total_in} * 8 - (z.data_type & 7);
    if (final) end.unused_bits = z.data_type & 7;
    if (!final) end.final_block_bit = bit;
  }
  inflateEnd(&z);
  return end;
}

// Stored, fixed and dynamic blocks; codes longer than the lookup table's 11 bits (a skewed
// alphabet); many blocks in one stream.
TEST(DeflateEnd, FindsWhereInflateSeesTheLastBlock) {
  std::string flat(200000, 'a'), noise(300000, '\0'), skewed(400000, '\0'), screen(1000000, '\0');
  uint32_t seed = 7;
  for (char& c : noise) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 23);
  for (char& c : skewed) {
    seed = seed * 1103515245 + 12345;
    c = static_cast<char>(__builtin_ctz(seed | 0x40000000) * 7);
  }
  for (size_t i = 0; i < screen.size(); ++i) {
    seed = seed * 1103515245 + 12345;
    const size_t x = i % 3000, y = i / 3000;
    screen[i] = static_cast<char>((x / 200 + y / 50) % 3 == 0 ? x + y : (seed >> 29) * (x % 7 < 3));
  }
  const struct Case {
    const char* name;
    const std::string& data;
    std::vector<int> levels;
  } cases[] = {{"empty", std::string(), {0, 2}}, {"short", std::string("hello, hello"), {1, 2}},
               {"flat", flat, {0, 1, 2}},        {"noise", noise, {0, 2, 6}},
               {"skewed", skewed, {1, 2, 6}},    {"screen", screen, {1, 2, 6}}};
  for (const Case& c : cases) {
    for (int level : c.levels) {
      SCOPED_TRACE(std::string(c.name) + " at level " + std::to_string(level));
      const std::string stream = Compress(c.data, level);
      const DeflateEnd expected = InflatedEnd(stream);
      DeflateEnd found;
      ASSERT_TRUE(FindDeflateEnd(stream, &found));
      EXPECT_EQ(found.final_block_bit, expected.final_block_bit);
      EXPECT_EQ(found.unused_bits, expected.unused_bits);
      // Cut short or followed by more bytes, the stream does not end in its last byte.
      EXPECT_FALSE(FindDeflateEnd(std::string_view(stream).substr(0, stream.size() - 1), &found));
      EXPECT_FALSE(FindDeflateEnd(stream + '\0', &found));
    }
  }
}

}  // namespace
