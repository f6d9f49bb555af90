#include "imaging/dib_data.h"

#include <Magick++.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <vector>

#include "image_test_support.h"
#include "imaging/image_utils.h"
#include "pixel_support.h"

namespace {

struct DibLayout {
  int32_t width = 2;
  int32_t height = 2;
  uint16_t bit_count = 24;
  uint32_t compression = 0;
  uint32_t size_image = 0;
  uint32_t colors_used = 0;
  uint32_t header_size = 40;
  std::vector<uint32_t> masks;    // written after the header when not empty
  std::vector<uint32_t> palette;  // 0x00RRGGBB, written as B, G, R, 0
  std::string pixels;             // rows as stored, padding included
  size_t trailing = 0;            // zero bytes after the pixels
};

std::string BuildDib(const DibLayout& s) {
  std::string d;
  Put32(&d, s.header_size);
  Put32(&d, static_cast<uint32_t>(s.width));
  Put32(&d, static_cast<uint32_t>(s.height));
  Put16(&d, 1);
  Put16(&d, s.bit_count);
  Put32(&d, s.compression);
  Put32(&d, s.size_image);
  Put32(&d, 2835);
  Put32(&d, 2835);
  Put32(&d, s.colors_used);
  Put32(&d, 0);
  d.resize(s.header_size, '\0');  // a longer header version keeps its extra fields zero
  for (uint32_t m : s.masks) Put32(&d, m);
  for (uint32_t c : s.palette) Put32(&d, c);
  d += s.pixels;
  d.append(s.trailing, '\0');
  return d;
}

class DibDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InitializeImaging());
    errno = 0;
  }

  // Saves the DIB as BMP and decodes the file again.
  Magick::Image SaveAndDecode(const std::string& dib) {
    std::string path = scratch_.Path("out.bmp");
    EXPECT_TRUE(SaveDibAsBmp(MakeGlobalBlock(dib), path));
    Magick::Image image;
    image.read(path);
    return image;
  }

  ScratchFolder scratch_;
};

TEST_F(DibDataTest, OneBitWithFullTable) {
  DibLayout s;
  s.width = 3;
  s.height = 2;
  s.bit_count = 1;
  s.palette = {0x000000, 0xFFFFFF};
  // Bottom-up: the bottom row first. Bottom row: 1 0 1; top row: 0 1 0.
  s.pixels = std::string("\xA0\0\0\0\x40\0\0\0", 8);
  Magick::Image image = SaveAndDecode(BuildDib(s));
  ASSERT_EQ(image.columns(), 3u);
  EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{0, 0, 0}));
  EXPECT_EQ(PixelAt(image, 1, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(PixelAt(image, 0, 1), (Rgb{255, 255, 255}));
  EXPECT_EQ(PixelAt(image, 1, 1), (Rgb{0, 0, 0}));
}

TEST_F(DibDataTest, FourBitShortTableWithRoomForTheFullOne) {
  DibLayout s;
  s.width = 2;
  s.height = -1;  // top-down
  s.bit_count = 4;
  s.colors_used = 3;
  s.palette = {0xFF0000, 0x00FF00, 0x0000FF};
  s.pixels = std::string("\x21\0\0\0", 4);
  s.trailing = (16 - 3) * 4;  // the block is sized for the full table
  std::string dib = BuildDib(s);

  CDibData holder;
  ASSERT_TRUE(holder.Attach(MakeGlobalBlock(dib)));
  EXPECT_EQ(holder.depth(), 4);
  EXPECT_EQ(holder.color_count(), 3u);
  EXPECT_EQ(holder.bits() - holder.header(), 40 + 3 * 4);
  EXPECT_EQ(holder.colors() - holder.header(), 40);
  std::string path = scratch_.Path("four.bmp");
  ASSERT_TRUE(holder.SaveAsBmp(path));
  std::string file = scratch::ReadFile(path);
  ASSERT_EQ(file.size(), 14u + 40 + 12 + 4);                    // only the used entries are written
  EXPECT_EQ(file.substr(10, 4), std::string("\x42\0\0\0", 4));  // pixel offset 66

  Magick::Image image(path);
  EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{0, 0, 255}));
  EXPECT_EQ(PixelAt(image, 1, 0), (Rgb{0, 255, 0}));
}

TEST_F(DibDataTest, EightBitShortTableWithoutRoomIsRefused) {
  DibLayout s;
  s.width = 4;
  s.height = 1;
  s.bit_count = 8;
  s.colors_used = 16;
  s.palette.assign(16, 0x808080);
  s.pixels = std::string(4, '\x01');
  CDibData holder;
  EXPECT_FALSE(holder.Attach(MakeGlobalBlock(BuildDib(s))));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_FALSE(holder.attached());

  s.trailing = (256 - 16) * 4;
  EXPECT_TRUE(holder.Attach(MakeGlobalBlock(BuildDib(s))));
}

TEST_F(DibDataTest, EightBitFullTable) {
  DibLayout s;
  s.width = 2;
  s.height = 2;
  s.bit_count = 8;
  s.palette.assign(256, 0);
  s.palette[7] = 0x102030;
  s.palette[200] = 0xC0FFEE;
  s.pixels = std::string("\x07\xC8\0\0\xC8\x07\0\0", 8);
  Magick::Image image = SaveAndDecode(BuildDib(s));
  EXPECT_EQ(PixelAt(image, 0, 1), (Rgb{0x10, 0x20, 0x30}));
  EXPECT_EQ(PixelAt(image, 1, 1), (Rgb{0xC0, 0xFF, 0xEE}));
  EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{0xC0, 0xFF, 0xEE}));
}

TEST_F(DibDataTest, SixteenBitFieldsWithZeroMasksGetTheDefaults) {
  DibLayout s;
  s.width = 2;
  s.height = 1;
  s.bit_count = 16;
  s.compression = 3;
  s.masks = {0, 0, 0};
  s.pixels = std::string("\x00\x7C\x1F\x00", 4);  // 555: pure red, pure blue
  std::string path = scratch_.Path("sixteen.bmp");

  CDibData holder;
  ASSERT_TRUE(holder.Attach(MakeGlobalBlock(BuildDib(s))));
  EXPECT_EQ(holder.mask(0), 0x7C00u);
  EXPECT_EQ(holder.mask(1), 0x03E0u);
  EXPECT_EQ(holder.mask(2), 0x001Fu);
  EXPECT_EQ(holder.shift(0), 10);
  EXPECT_EQ(holder.loss(1), 3);
  ASSERT_TRUE(holder.SaveAsBmp(path));
  std::string file = scratch::ReadFile(path);
  ASSERT_EQ(file.size(), 14u + 40 + 12 + 4);
  EXPECT_EQ(file.substr(54, 12), std::string("\x00\x7C\0\0\xE0\x03\0\0\x1F\0\0\0", 12));
  EXPECT_EQ(file.substr(10, 4), std::string("\x42\0\0\0", 4));

  // Five bits per channel: full intensity decodes a little under 255.
  Magick::Image image(path);
  Rgb red = PixelAt(image, 0, 0), blue = PixelAt(image, 1, 0);
  EXPECT_GE(red.r, 240);
  EXPECT_EQ(red.g + red.b, 0);
  EXPECT_GE(blue.b, 240);
  EXPECT_EQ(blue.r + blue.g, 0);
}

TEST_F(DibDataTest, SixteenBitFieldsDeriveShiftsFromMasks) {
  DibLayout s;
  s.width = 1;
  s.height = 1;
  s.bit_count = 16;
  s.compression = 3;
  s.masks = {0xF800, 0x07E0, 0x001F};  // 565
  s.pixels = std::string("\0\0\0\0", 4);
  CDibData holder;
  ASSERT_TRUE(holder.Attach(MakeGlobalBlock(BuildDib(s))));
  EXPECT_EQ(holder.shift(0), 11);
  EXPECT_EQ(holder.shift(1), 5);
  EXPECT_EQ(holder.shift(2), 0);
  EXPECT_EQ(holder.loss(0), 3);
  EXPECT_EQ(holder.loss(1), 2);
  EXPECT_EQ(holder.loss(2), 3);
}

TEST_F(DibDataTest, TwentyFourBitRowsTopDownAndBottomUp) {
  // Two rows of 2 pixels; each row is padded to 8 bytes. Stored first: blue, then red.
  DibLayout s;
  s.width = 2;
  s.bit_count = 24;
  s.pixels = std::string("\xFF\0\0\xFF\0\0\0\0\0\0\xFF\0\0\xFF\0\0", 16);
  for (int32_t height : {2, -2}) {
    s.height = height;
    std::string dib = BuildDib(s);
    CDibData holder;
    ASSERT_TRUE(holder.Attach(MakeGlobalBlock(dib)));
    ASSERT_EQ(holder.row_count(), 2u);
    EXPECT_EQ(holder.mask(0), 0xFF0000u);
    // row(0) is the top of the picture: the second stored row when bottom-up.
    uint8_t top_blue = holder.row(0)[0];
    EXPECT_EQ(top_blue, height > 0 ? 0 : 0xFF) << height;
    holder.Detach();

    Magick::Image image = SaveAndDecode(dib);
    Rgb first{0, 0, 255}, second{255, 0, 0};
    EXPECT_EQ(PixelAt(image, 0, 0), height > 0 ? second : first) << height;
    EXPECT_EQ(PixelAt(image, 1, 1), height > 0 ? first : second) << height;
  }
}

TEST_F(DibDataTest, ThirtyTwoBit) {
  DibLayout s;
  s.width = 2;
  s.height = -2;
  s.bit_count = 32;
  s.pixels = std::string("\x10\x20\x30\xFF\xF0\xE0\xD0\xFF", 8) + std::string(8, '\0');
  Magick::Image image = SaveAndDecode(BuildDib(s));
  EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{0x30, 0x20, 0x10}));
  EXPECT_EQ(PixelAt(image, 1, 0), (Rgb{0xD0, 0xE0, 0xF0}));
}

TEST_F(DibDataTest, RefusesMalformedHeaders) {
  DibLayout good;
  good.width = 1;
  good.height = 1;
  good.pixels = std::string(4, '\0');
  struct Row {
    const char* what;
    DibLayout layout;
  } rows[] = {
      {"124-byte header", good},       {"zero height", good},
      {"negative width", good},        {"12-bit depth", good},
      {"rows beyond the block", good}, {"image size beyond the block", good},
  };
  rows[0].layout.header_size = 124;
  rows[1].layout.height = 0;
  rows[2].layout.width = -1;
  rows[3].layout.bit_count = 12;
  rows[4].layout.height = 3;
  rows[5].layout.compression = 1;  // run-length: the stated size counts
  rows[5].layout.bit_count = 8;
  rows[5].layout.palette.assign(256, 0);
  rows[5].layout.size_image = 4096;
  for (const Row& row : rows) {
    errno = 0;
    CDibData holder;
    EXPECT_FALSE(holder.Attach(MakeGlobalBlock(BuildDib(row.layout)))) << row.what;
    EXPECT_EQ(errno, EINVAL) << row.what;
  }
}

TEST_F(DibDataTest, AttachErrors) {
  CDibData holder;
  EXPECT_FALSE(holder.Attach(nullptr));
  EXPECT_EQ(errno, EBADF);

  errno = 0;
  EXPECT_FALSE(holder.Attach(MakeGlobalBlock(std::string(39, '\0'))));
  EXPECT_EQ(errno, EINVAL);
  errno = ENOENT;  // a pending error is kept
  EXPECT_FALSE(holder.Attach(MakeGlobalBlock(std::string(39, '\0'))));
  EXPECT_EQ(errno, ENOENT);

  DibLayout s;
  s.width = 1;
  s.height = 1;
  s.pixels = std::string(4, '\0');
  ASSERT_TRUE(holder.Attach(MakeGlobalBlock(BuildDib(s))));
  errno = 0;
  EXPECT_FALSE(holder.Attach(MakeGlobalBlock(BuildDib(s))));
  EXPECT_EQ(errno, 0);
}

TEST_F(DibDataTest, UncompressedRowsAreWrittenWhateverTheStatedSize) {
  DibLayout s;
  s.width = 2;
  s.height = 2;
  s.size_image = 8;  // says one row; the header describes two
  s.pixels = std::string("\0\0\xFF\0\0\xFF\0\0\0\xFF\0\0\xFF\0\0\0", 16);
  std::string path = scratch_.Path("sized.bmp");
  ASSERT_TRUE(SaveDibAsBmp(MakeGlobalBlock(BuildDib(s)), path));
  EXPECT_EQ(scratch::ReadFile(path).size(), 14u + 40 + 16);
  Magick::Image image(path);
  EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{0, 255, 0}));
  EXPECT_EQ(PixelAt(image, 0, 1), (Rgb{255, 0, 0}));
}

TEST_F(DibDataTest, DetachHandsTheBlockBackUnlocked) {
  DibLayout s;
  s.width = 1;
  s.height = 1;
  s.pixels = std::string(4, '\0');
  GlobalHandle block = MakeGlobalBlock(BuildDib(s));
  CDibData holder;
  ASSERT_TRUE(holder.Attach(block));
  EXPECT_EQ(block->lock_count(), 1);
  EXPECT_EQ(block.use_count(), 2);
  GlobalHandle back = holder.Detach();
  EXPECT_EQ(back, block);
  EXPECT_EQ(block->lock_count(), 0);
  EXPECT_FALSE(holder.attached());
  EXPECT_EQ(holder.header(), nullptr);
  EXPECT_EQ(holder.Detach(), nullptr);
  EXPECT_FALSE(holder.SaveAsBmp(scratch_.Path("x.bmp")));
  EXPECT_FALSE(Exists(scratch_.Path("x.bmp")));
}

TEST_F(DibDataTest, ReleaseUnlocksAndGivesUpItsShare) {
  DibLayout s;
  s.width = 1;
  s.height = 1;
  s.pixels = std::string(4, '\0');
  GlobalHandle block = MakeGlobalBlock(BuildDib(s));
  {
    CDibData holder;
    ASSERT_TRUE(holder.Attach(block));
  }  // destroyed while attached
  EXPECT_EQ(block->lock_count(), 0);
  EXPECT_EQ(block.use_count(), 1);
}

TEST_F(DibDataTest, SaveAsBmpFailures) {
  DibLayout s;
  s.width = 1;
  s.height = 1;
  s.pixels = std::string(4, '\0');
  CDibData holder;
  ASSERT_TRUE(holder.Attach(MakeGlobalBlock(BuildDib(s))));
  errno = 0;
  EXPECT_FALSE(holder.SaveAsBmp(""));
  EXPECT_EQ(errno, EINVAL);
  std::string unwritable = scratch_.Path("no-such-folder/a.bmp");
  EXPECT_FALSE(holder.SaveAsBmp(unwritable));
  EXPECT_FALSE(Exists(unwritable));
}

TEST_F(DibDataTest, PackedDibFromPngKeepsThePicture) {
  // 3x2: top row red, green, blue; bottom row white, black, red.
  Magick::Image image(Magick::Geometry(3, 2), Magick::Color("white"));
  image.pixelColor(0, 0, Magick::Color("red"));
  image.pixelColor(1, 0, Magick::Color("lime"));
  image.pixelColor(2, 0, Magick::Color("blue"));
  image.pixelColor(1, 1, Magick::Color("black"));
  image.pixelColor(2, 1, Magick::Color("red"));
  Magick::Blob png;
  image.write(&png, "PNG");
  std::string dib;
  ASSERT_TRUE(PackedDibFromImage(
      std::string_view(static_cast<const char*>(png.data()), png.length()), &dib));
  ASSERT_EQ(dib.size(), 40u + 2 * 12);  // 9 bytes a row, padded to 12

  CDibData holder;
  ASSERT_TRUE(holder.Attach(MakeGlobalBlock(dib)));
  EXPECT_EQ(holder.depth(), 24);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(holder.row(0)), 9),
            std::string("\0\0\xFF\0\xFF\0\xFF\0\0", 9));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(holder.row(1)), 9),
            std::string("\xFF\xFF\xFF\0\0\0\0\0\xFF", 9));
  holder.Detach();

  Magick::Image back = SaveAndDecode(dib);
  EXPECT_EQ(PixelAt(back, 1, 0), kGreen);
  EXPECT_EQ(PixelAt(back, 0, 1), kWhite);
}

TEST_F(DibDataTest, PackedDibKeepsTransparency) {
  Magick::Image image(Magick::Geometry(2, 1), Magick::Color("transparent"));
  image.pixelColor(1, 0, Magick::Color("red"));
  Magick::Blob png;
  image.write(&png, "PNG");
  std::string dib;
  ASSERT_TRUE(PackedDibFromImage(
      std::string_view(static_cast<const char*>(png.data()), png.length()), &dib));
  ASSERT_EQ(dib.size(), 40u + 8);
  EXPECT_EQ(dib[14], 32);                                        // bits per pixel
  EXPECT_EQ(dib.substr(44, 4), std::string("\0\0\xFF\xFF", 4));  // opaque red
  EXPECT_EQ(static_cast<uint8_t>(dib[43]), 0);                   // transparent
}

TEST_F(DibDataTest, PackedDibRefusesNonImages) {
  std::string dib = "untouched";
  EXPECT_FALSE(PackedDibFromImage("<html>not a picture</html>", &dib));
  EXPECT_FALSE(PackedDibFromImage("", &dib));
  EXPECT_EQ(dib, "untouched");
}

// The PNG written straight from a DIB is, byte for byte, the one a BMP file of it converts to,
// for every kind of picture PackedDibFromImage takes (opaque, transparent, gray, 16-bit, GIF).
TEST_F(DibDataTest, PngFromADibIsThePngOfItsBmpFile) {
  Magick::Image opaque(Magick::Geometry(37, 23), Magick::Color("white"));  // rows need padding
  opaque.read("plasma:fractal");
  Magick::Image see_through(Magick::Geometry(5, 3), Magick::Color("#ff000080"));
  see_through.pixelColor(1, 1, Magick::Color("transparent"));
  Magick::Image gray(Magick::Geometry(9, 4), Magick::Color("gray40"));
  gray.type(Magick::GrayscaleType);
  struct Row {
    const char* name;
    Magick::Image image;
    const char* format;
  } rows[] = {{"opaque", opaque, "PNG"},
              {"alpha", see_through, "PNG"},
              {"gray", gray, "PNG"},
              {"16-bit", opaque, "PNG48"},
              {"gif", opaque, "GIF"}};
  for (Row& row : rows) {
    Magick::Blob blob;
    row.image.write(&blob, row.format);
    std::string dib;
    ASSERT_TRUE(PackedDibFromImage(
        std::string_view(static_cast<const char*>(blob.data()), blob.length()), &dib))
        << row.name;
    ASSERT_TRUE(SaveDibAsBmp(MakeGlobalBlock(dib), scratch_.Path("via.bmp")));
    ASSERT_TRUE(
        ConvertImageFile(scratch_.Path("via.bmp"), scratch_.Path("via.png"), ImageType::kPng, 70));
    ASSERT_TRUE(SaveDibAsPng(MakeGlobalBlock(dib), scratch_.Path("direct.png"))) << row.name;
    EXPECT_EQ(scratch::ReadFile(scratch_.Path("direct.png")),
              scratch::ReadFile(scratch_.Path("via.png")))
        << row.name;
  }
}

TEST_F(DibDataTest, PngFromARefusedDibIsNotWritten) {
  const std::string path = scratch_.Path("refused.png");
  EXPECT_FALSE(SaveDibAsPng(MakeGlobalBlock(std::string(20, '\0')), path));
  EXPECT_FALSE(Exists(path));
}

}  // namespace

namespace {

// Bitmap files whose rows are copied without decoding them, and their neighbours that are
// decoded: each becomes the picture the image library reads from the same file.
TEST_F(DibDataTest, BitmapFilesGiveThePictureTheDecoderReads) {
  std::string rows(3 * 16, '\0');  // three rows of 5 pixels, padded to 16 bytes
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<char>(i * 37 + 11);
  DibLayout bottom_up;
  bottom_up.width = 5;
  bottom_up.height = 3;
  bottom_up.pixels = rows;
  DibLayout top_down = bottom_up, v5 = bottom_up, alpha = bottom_up, short_file = bottom_up;
  top_down.height = -3;
  v5.header_size = 124;
  alpha.bit_count = 32;
  alpha.pixels = std::string(3 * 20, '\x80');
  short_file.pixels.resize(rows.size() - 2);  // the last row's padding is missing
  struct Row {
    const char* name;
    DibLayout layout;
  } cases[] = {{"bottom-up", bottom_up},
               {"top-down", top_down},
               {"v5 header", v5},
               {"32-bit", alpha},
               {"short", short_file}};
  for (const Row& row : cases) {
    SCOPED_TRACE(row.name);
    const std::string dib = BuildDib(row.layout);
    std::string bmp = "BM";
    Put32(&bmp, static_cast<uint32_t>(14 + dib.size()));
    Put32(&bmp, 0);
    Put32(&bmp, 14 + row.layout.header_size);
    bmp += dib;
    Magick::Image expected;
    bool decodes = true;
    try {
      expected.read(Magick::Blob(bmp.data(), bmp.size()));
    } catch (const Magick::Exception&) {
      decodes = false;
    }
    std::string packed;
    ASSERT_EQ(PackedDibFromImage(bmp, &packed), decodes);
    if (!decodes) continue;
    ASSERT_TRUE(SaveDibAsPng(MakeGlobalBlock(packed), scratch_.Path("p.png")));
    // A plain file's PNG made straight from its rows is the DIB route's file, byte for byte.
    std::string direct;
    ASSERT_EQ(PngFromPlainBmp(bmp, &direct), row.layout.bit_count == 24);
    if (!direct.empty()) EXPECT_TRUE(direct == scratch::ReadFile(scratch_.Path("p.png")));
    // The same file made while it arrives, whatever its pieces (the header split too).
    for (size_t piece : {size_t{1}, size_t{7}, bmp.size()}) {
      PlainBmpPngStream stream;
      for (size_t at = 0; at < bmp.size(); at += piece) stream.Append(bmp.substr(at, piece));
      std::string streamed = "stale";
      EXPECT_EQ(stream.Finish(&streamed), !direct.empty()) << piece;
      EXPECT_TRUE(streamed == direct) << piece;
      EXPECT_TRUE(stream.TakeFile() == bmp) << piece;
    }
    Magick::Image made(scratch_.Path("p.png"));
    EXPECT_EQ(made.matte(), expected.matte());
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(PixelAt(made, x, y), PixelAt(expected, x, y)) << x << "," << y;
        if (!expected.matte()) continue;  // an opaque picture's alpha is left undefined
        EXPECT_EQ(made.pixelColor(x, y).alphaQuantum(), expected.pixelColor(x, y).alphaQuantum());
      }
    }
  }
}

}  // namespace
