#include "imaging/image_structure.h"

#include <gtest/gtest.h>

#include <string>

#include "support/generated_png.h"

namespace {

// A baseline JPEG skeleton: SOI, APP0, SOF0, SOS, entropy data holding a stuffed zero and a
// restart marker, EOI. Only the structure matters to the walk.
const std::string kJpegHead =
    std::string("\xFF\xD8", 2) + std::string("\xFF\xE0\x00\x04\x4A\x46", 6) +
    std::string("\xFF\xC0\x00\x0B\x08\x00\x01\x00\x01\x01\x01\x11\x00", 13);
const std::string kScanHeader = std::string("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
const std::string kEntropy = std::string("\x12\xFF\x00\x34\xFF\xD0\x56\xFF", 8);
const std::string kEoi = "\xFF\xD9";

// png with the byte at offset `at` changed.
std::string Flipped(std::string bytes, size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
  return bytes;
}

// png whose IHDR declares width x height, its CRC mended so only the size lies.
std::string Resized(std::string png, uint32_t width, uint32_t height) {
  std::string header = png.substr(16, 13);
  std::string sized;
  generated_png::PutBig32(&sized, width);
  generated_png::PutBig32(&sized, height);
  std::string chunk;
  generated_png::PutChunk(&chunk, "IHDR", sized + header.substr(8));
  return png.replace(8, 25, chunk);
}

// An ancillary chunk (tEXt) with a wrong CRC, placed before the image data.
std::string WithBadTextChunk(const std::string& png) {
  std::string chunk;
  generated_png::PutChunk(&chunk, "tEXt", std::string("a\0b", 3));
  chunk[chunk.size() - 1] ^= 1;
  return png.substr(0, 33) + chunk + png.substr(33);
}

TEST(WalkImageStructure, JudgesWholenessAndFindsTheHeaders) {
  const std::string png = generated_png::NoisePng(40, 30, 5, 1000);  // 4 IDAT chunks
  const std::string small = generated_png::NoisePng(10, 10, 5);      // 310 bytes of pixels
  const std::string jpeg = kJpegHead + kScanHeader + kEntropy + kEoi;
  const size_t jpeg_header = kJpegHead.size() + kScanHeader.size();
  // A progressive picture: a second scan after the first, each ended by the next marker.
  const std::string two_scans =
      kJpegHead + kScanHeader + kEntropy + std::string("\x01", 1) + kScanHeader + kEntropy + kEoi;
  struct Row {
    const char* name;
    std::string bytes;
    ImageStructure expected;
    size_t header_bytes;
  } const rows[] = {
      {"png", png, ImageStructure::kWhole, 64},
      {"png with trailing bytes", png + "junk", ImageStructure::kWhole, 64},
      {"png with a bad ancillary CRC", WithBadTextChunk(png), ImageStructure::kWhole, 64},
      {"png cut in its last chunk", png.substr(0, png.size() - 1), ImageStructure::kBroken, 0},
      {"png cut in the middle", png.substr(0, png.size() / 2), ImageStructure::kBroken, 0},
      {"png cut after its signature", png.substr(0, 8), ImageStructure::kBroken, 0},
      {"png with a flipped pixel byte", Flipped(png, png.size() / 2), ImageStructure::kBroken, 0},
      {"png with a flipped header byte", Flipped(png, 17), ImageStructure::kBroken, 0},
      {"png with a lying chunk length", Flipped(png, 33), ImageStructure::kBroken, 0},
      {"png without pixel data", png.substr(0, 33) + png.substr(png.size() - 12),
       ImageStructure::kBroken, 0},
      // 25 megapixels cannot come out of about 320 bytes of deflate data; 100 x 100 can.
      {"png declaring far more pixels than its data holds", Resized(small, 5000, 5000),
       ImageStructure::kBroken, 0},
      {"png declaring a few more pixels", Resized(small, 100, 100), ImageStructure::kWhole, 64},
      {"png without IHDR first", png.substr(0, 8) + png.substr(33), ImageStructure::kBroken, 0},
      // A file shorter than 64 bytes is handed out whole.
      {"jpeg", jpeg, ImageStructure::kWhole, jpeg.size()},
      {"jpeg with fill bytes before EOI", kJpegHead + kScanHeader + kEntropy + "\xFF" + kEoi,
       ImageStructure::kWhole, jpeg.size() + 1},
      {"progressive jpeg", two_scans, ImageStructure::kWhole, two_scans.size()},
      {"jpeg without EOI", jpeg.substr(0, jpeg.size() - 2), ImageStructure::kBroken, 0},
      {"jpeg cut in a segment", jpeg.substr(0, 12), ImageStructure::kBroken, 0},
      {"jpeg without a frame header", std::string("\xFF\xD8", 2) + kScanHeader + kEntropy + kEoi,
       ImageStructure::kBroken, 0},
      {"jpeg without a scan", kJpegHead + kEoi, ImageStructure::kBroken, 0},
      {"jpeg with a lying segment length", kJpegHead.substr(0, 4) + "\xFF\xFF" + jpeg.substr(6),
       ImageStructure::kBroken, 0},
      {"gif", "GIF89a\x01\x00\x01\x00", ImageStructure::kNotWalkable, 0},
      {"text", "hello", ImageStructure::kNotWalkable, 0},
  };
  for (const Row& row : rows) {
    size_t header_bytes = 0;
    EXPECT_EQ(WalkImageStructure(row.bytes, &header_bytes), row.expected) << row.name;
    if (row.expected == ImageStructure::kWhole) {
      EXPECT_EQ(header_bytes, row.header_bytes) << row.name;
    }
  }
  // Headers longer than the minimum are handed out whole.
  std::string long_jpeg = kJpegHead + std::string("\xFF\xE1\x00\x42", 4) + std::string(64, 'x') +
                          kScanHeader + kEntropy + kEoi;
  size_t header_bytes = 0;
  ASSERT_EQ(WalkImageStructure(long_jpeg, &header_bytes), ImageStructure::kWhole);
  EXPECT_EQ(header_bytes, jpeg_header + 4 + 64);
}

}  // namespace
