// Our PNG writer against the image library's reader: every pixel order, rows stored top-down
// and bottom-up with padding, and the resolution chunk.
#include "imaging/png_writer.h"

#include <Magick++.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "imaging/image_utils.h"

namespace {

// Rows shorter than the filter's 16-byte steps, and rows of several steps and a part of one.
TEST(PngWriter, EveryLayoutReadsBackAsThePicture) {
  constexpr uint32_t kHeight = 3;
  struct Row {
    PixelOrder order;
    int channels;
    bool bottom_up;
    const char* map;  // the channels as the library names them, in memory order
    uint32_t width;
  } rows[] = {{PixelOrder::kRgb, 3, false, "RGB", 5},    {PixelOrder::kBgr, 3, true, "BGR", 5},
              {PixelOrder::kRgba, 4, true, "RGBA", 5},   {PixelOrder::kBgra, 4, false, "BGRA", 5},
              {PixelOrder::kRgb, 3, true, "RGB", 37},    {PixelOrder::kBgr, 3, false, "BGR", 37},
              {PixelOrder::kRgba, 4, false, "RGBA", 37}, {PixelOrder::kBgra, 4, true, "BGRA", 37}};
  ASSERT_TRUE(InitializeImaging());
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.map) + " " + std::to_string(row.width));
    const uint32_t kWidth = row.width;
    const size_t stride = kWidth * row.channels + 3;  // padding the writer must skip
    std::string stored(stride * kHeight, '\x55');
    for (size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<char>(i * i * 29 + 7);
    PngPixels pixels;
    pixels.width = kWidth;
    pixels.height = kHeight;
    pixels.order = row.order;
    pixels.top_row = reinterpret_cast<const uint8_t*>(stored.data()) +
                     (row.bottom_up ? stride * (kHeight - 1) : 0);
    pixels.stride = row.bottom_up ? -static_cast<ptrdiff_t>(stride) : stride;
    pixels.x_pixels_per_meter = 3780;
    pixels.y_pixels_per_meter = 2835;
    std::string png;
    ASSERT_TRUE(EncodePng(pixels, &png));
    Magick::Image image(Magick::Blob(png.data(), png.size()));
    ASSERT_EQ(image.columns(), kWidth);
    ASSERT_EQ(image.rows(), kHeight);
    EXPECT_EQ(image.matte(), row.channels == 4);
    EXPECT_NEAR(image.xResolution(), 37.8, 0.01);
    EXPECT_NEAR(image.yResolution(), 28.35, 0.01);
    std::string read(kWidth * row.channels, '\0');
    for (uint32_t y = 0; y < kHeight; ++y) {
      image.write(0, y, kWidth, 1, row.map, Magick::CharPixel, &read[0]);
      const size_t line = row.bottom_up ? kHeight - 1 - y : y;
      EXPECT_EQ(read, stored.substr(line * stride, kWidth * row.channels)) << "row " << y;
    }
  }
}

// Bands are joined into one stream: a reader sees every pixel, whether a band ends after a
// stored block (noise) or inside a compressed one (flat areas), for any split of the rows.
TEST(PngWriter, BandsJoinIntoOnePicture) {
  struct Case {
    uint32_t width, height;
    size_t band_bytes;
    bool noise;
  } cases[] = {{300, 200, 1, false},      {300, 200, 40000, false},  {300, 200, 40000, true},
               {257, 131, 7 * 772, true}, {640, 480, 100000, false}, {64, 9, 1 << 20, false}};
  ASSERT_TRUE(InitializeImaging());
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " in bands of " +
                 std::to_string(c.band_bytes));
    std::string rgb(size_t{c.width} * c.height * 3, '\0');
    uint32_t seed = 12345;
    for (size_t i = 0; i < rgb.size(); ++i) {
      seed = seed * 1103515245 + 12345;
      const size_t x = i / 3 % c.width, y = i / 3 / c.width;
      rgb[i] = static_cast<char>(c.noise || (x / 16 + y / 8) % 3 == 0 ? seed >> 16 : x + y / 4);
    }
    PngPixels pixels{reinterpret_cast<const uint8_t*>(rgb.data()),
                     static_cast<ptrdiff_t>(c.width) * 3, c.width, c.height, PixelOrder::kRgb};
    std::string png;
    ASSERT_TRUE(EncodePngInBands(pixels, c.band_bytes, &png));
    Magick::Image image(Magick::Blob(png.data(), png.size()));
    std::string read(rgb.size(), '\0');
    image.write(0, 0, c.width, c.height, "RGB", Magick::CharPixel, &read[0]);
    EXPECT_TRUE(read == rgb);
  }
}

// Rows that arrive over time, in either row order, with the buffer moved between pieces: the
// same file as from rows that were all there; none while rows are missing.
TEST(PngWriter, RowsArrivingInPiecesGiveTheFileOfTheWholeBuffer) {
  struct Case {
    uint32_t width, height;
    size_t band_bytes, piece;
    bool bottom_up, moves;
  } cases[] = {{300, 200, 40000, 1000, true, false},
               {300, 200, 40000, 4096, false, true},
               {257, 131, 1, 333, true, true},
               {640, 480, 100000, 921600, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " by " +
                 std::to_string(c.piece));
    const size_t stride = (c.width * 3 + 3) & ~size_t{3}, header = 54;
    std::string file(header + stride * c.height, '\0');
    uint32_t seed = 99;
    for (char& byte : file) byte = static_cast<char>((seed = seed * 1103515245 + 12345) >> 27);
    const size_t top = header + (c.bottom_up ? stride * (c.height - 1) : 0);
    PngPixels pixels{reinterpret_cast<const uint8_t*>(file.data()) + top,
                     c.bottom_up ? -static_cast<ptrdiff_t>(stride) : static_cast<ptrdiff_t>(stride),
                     c.width, c.height, PixelOrder::kBgr};
    std::string whole, streamed = "stale";
    ASSERT_TRUE(EncodePngInBands(pixels, c.band_bytes, &whole));
    PngStreamEncoder encoder(pixels, top, c.band_bytes), short_of_a_byte(pixels, top, 1);
    std::string arrived;
    arrived.reserve(c.moves ? 0 : file.size());
    for (size_t at = 0; at < file.size(); at += c.piece) {
      if (c.moves) {
        std::string moved = arrived;
        encoder.Pause();
        arrived.swap(moved);
        std::fill(moved.begin(), moved.end(), '\x5A');  // what a worker still reading it sees
      }
      arrived.append(file, at, c.piece);
      encoder.Arrived(reinterpret_cast<const uint8_t*>(arrived.data()), arrived.size());
    }
    ASSERT_TRUE(encoder.Finish(&streamed));
    EXPECT_TRUE(streamed == whole);
    // The last row in the file lacks its last pixel byte (its padding would not matter).
    const size_t missing = stride - c.width * 3 + 1;
    short_of_a_byte.Arrived(reinterpret_cast<const uint8_t*>(file.data()), file.size() - missing);
    EXPECT_FALSE(short_of_a_byte.Finish(&streamed));
    EXPECT_TRUE(streamed.empty());
  }
}

// Bands cost little size on a screenshot (flat panels, gradients, text): under half a percent.
TEST(PngWriter, BandsKeepTheSizeOfOneStream) {
  constexpr uint32_t kWidth = 1920, kHeight = 1080;
  std::string rgb(size_t{kWidth} * kHeight * 3, '\0');
  for (size_t i = 0; i < rgb.size(); ++i) {
    const size_t x = i / 3 % kWidth, y = i / 3 / kWidth;
    const bool text = y % 18 < 12 && (x * 7 + y * 3) % 11 < 4 && x % 480 < 400;
    rgb[i] = static_cast<char>(text ? 20 : (x / 480 + y / 270) % 2 == 0 ? 240 : (x + y * i % 3));
  }
  PngPixels pixels{reinterpret_cast<const uint8_t*>(rgb.data()), kWidth * 3, kWidth, kHeight,
                   PixelOrder::kBgr};
  std::string whole, banded;
  ASSERT_TRUE(EncodePngInBands(pixels, SIZE_MAX, &whole));
  ASSERT_TRUE(EncodePng(pixels, &banded));
  EXPECT_LE(banded.size(), whole.size() + whole.size() / 200);
}

TEST(PngWriter, RefusesPicturesItCannotWrite) {
  const uint8_t byte = 0;
  std::string png = "stale";
  PngPixels none;  // no rows
  EXPECT_FALSE(EncodePng(none, &png));
  EXPECT_EQ(png, "");
  PngPixels narrow{&byte, 2, 1, 1, PixelOrder::kRgb};  // a row of 3 bytes in a stride of 2
  EXPECT_FALSE(EncodePng(narrow, &png));
}

}  // namespace
