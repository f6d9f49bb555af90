#include "imaging/image_utils.h"

#include <Magick++.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "image_test_support.h"
#include "imaging/image_codecs.h"
#include "imaging/image_signature.h"
#include "imaging/image_structure.h"
#include "pixel_support.h"
#include "support/generated_png.h"

namespace {

uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
  }
  return ~crc;
}

// Sets the IHDR size of a PNG and mends the chunk's CRC, so only the size is wrong.
std::string WithPngSize(std::string png, uint32_t width, uint32_t height) {
  for (int i = 0; i < 4; ++i) {
    png[16 + i] = static_cast<char>(width >> (24 - 8 * i));
    png[20 + i] = static_cast<char>(height >> (24 - 8 * i));
  }
  uint32_t crc = Crc32(png.substr(12, 17));  // type and data of IHDR
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
  return png;
}

class ImageUtilsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(InitializeImaging()); }

  // A 16x12 picture: red everywhere, a lime 8x6 block at the top-left.
  std::string MakeImage(const std::string& name, const std::string& format) {
    Magick::Image image(Magick::Geometry(16, 12), Magick::Color("red"));
    image.fillColor("lime");
    image.strokeColor("lime");
    image.draw(Magick::DrawableRectangle(0, 0, 7, 5));
    image.magick(format);
    std::string path = scratch_.Path(name);
    image.write(path);
    return path;
  }

  // A photograph-like BMP of about `bytes` bytes, so that the 5 MiB rule can be seen.
  std::string MakeNoisyBmp(const std::string& name, int width, int height) {
    Magick::Image image(Magick::Geometry(width, height), Magick::Color("gray"));
    image.addNoise(Magick::GaussianNoise);
    image.magick("BMP3");
    std::string path = scratch_.Path(name);
    image.write(path);
    return path;
  }

  static std::string JpegQuality(const std::string& path) {
    Magick::Image image(path);
    return image.attribute("JPEG-Quality");
  }

  ScratchFolder scratch_;
};

TEST(ImageTypeFromExtension, MapsExtensionsWithoutRegardToCase) {
  struct Row {
    const char* extension;
    ImageType type;
  } rows[] = {
      {".bmp", ImageType::kBmp},   {".JPG", ImageType::kJpeg},  {".Jpeg", ImageType::kJpeg},
      {".gif", ImageType::kGif},   {".PNG", ImageType::kPng},   {".tif", ImageType::kTiff},
      {".TIFF", ImageType::kTiff}, {".webp", ImageType::kNone}, {"", ImageType::kNone},
      {"png", ImageType::kNone},   {".pngx", ImageType::kNone}, {".jp", ImageType::kNone},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ImageTypeFromExtension(row.extension), row.type) << row.extension;
  }
}

TEST(EncoderLookup, MediaTypesAndEncoders) {
  struct Row {
    ImageType type;
    const char* mime_type;
    int index;
  } rows[] = {
      {ImageType::kBmp, "image/bmp", 0}, {ImageType::kJpeg, "image/jpeg", 1},
      {ImageType::kGif, "image/gif", 2}, {ImageType::kTiff, "image/tiff", 3},
      {ImageType::kPng, "image/png", 4},
  };
  for (const Row& row : rows) {
    ImageEncoder encoder;
    EXPECT_EQ(EncoderMimeType(row.type, &encoder), row.mime_type);
    EXPECT_FALSE(encoder.format.empty()) << row.mime_type;
    ImageEncoder found;
    EXPECT_EQ(FindEncoderClsid(row.mime_type, &found), row.index);
    EXPECT_EQ(found.format, encoder.format);
  }
  ImageEncoder encoder;
  EXPECT_EQ(FindEncoderClsid("IMAGE/PNG", &encoder), 4);
  EXPECT_EQ(FindEncoderClsid("image/webp", &encoder), -1);
  EXPECT_EQ(encoder.format, "PNG");  // a failed lookup leaves the encoder alone
  EXPECT_EQ(EncoderMimeType(ImageType::kNone, &encoder), "");
  EXPECT_TRUE(encoder.format.empty());  // but the media-type lookup clears it first
}

// One table of signatures decides for the sniffing (which knows five kinds and wants 16 bytes)
// and for every other caller (SignatureOf).
TEST(SniffImageFormat, FirstSixteenBytesDecide) {
  const std::string png_head("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  std::string emf(88, '\0');
  emf[0] = 1;
  emf.replace(40, 4, " EMF");
  using S = ImageSignature;
  struct Row {
    std::string bytes;
    S signature;
    SniffedFormat format;
  } rows[] = {
      {png_head, S::kPng, SniffedFormat::kPng},
      {png_head.substr(0, 15), S::kPng, SniffedFormat::kNone},  // too short to decide
      {png_head.substr(0, 7), S::kNone, SniffedFormat::kNone},
      {std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIDAT", 16), S::kPng, SniffedFormat::kNone},
      {std::string("\xFF\xD8\xFF\xE0") + std::string(12, 'x'), S::kJpeg, SniffedFormat::kJpeg},
      {"GIF89a" + std::string(10, '\0'), S::kGif, SniffedFormat::kGif},
      {"GIF87a" + std::string(10, '\0'), S::kGif, SniffedFormat::kGif},
      {"GIF8", S::kGif, SniffedFormat::kNone},
      {"BM" + std::string(14, '\0'), S::kBmp, SniffedFormat::kBmp},
      {std::string("RIFF\0\0\0\0WEBPVP8 ", 16), S::kRiff, SniffedFormat::kRiff},
      {std::string("RIFF\0\0\0\0WAVEfmt ", 16), S::kRiff, SniffedFormat::kRiff},
      {"<html><body>hello</body></html>", S::kNone, SniffedFormat::kNone},
      {std::string("II*\0", 4) + std::string(12, '\0'), S::kTiff, SniffedFormat::kNone},
      {std::string("MM\0*", 4), S::kTiff, SniffedFormat::kNone},
      {emf, S::kEmf, SniffedFormat::kNone},
      {emf.substr(0, 87), S::kNone, SniffedFormat::kNone},
      {std::string(1, '\1') + std::string(87, '\0'), S::kNone, SniffedFormat::kNone},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes);
    EXPECT_EQ(SignatureOf(row.bytes), row.signature);
    EXPECT_EQ(SniffImageFormat(row.bytes.data(), row.bytes.size()), row.format);
  }
  EXPECT_EQ(SniffImageFormat(nullptr, 16), SniffedFormat::kNone);
}

TEST_F(ImageUtilsTest, ConversionsKeepThePicture) {
  struct Row {
    const char* source_format;
    const char* target;
    ImageType type;
    const char* decoded_as;
    int tolerance;  // lossy targets
  } rows[] = {
      {"BMP", "a.png", ImageType::kPng, "PNG", 0},   {"PNG", "b.jpg", ImageType::kJpeg, "JPEG", 24},
      {"JPEG", "c.bmp", ImageType::kBmp, "BMP", 24}, {"TIFF", "d.gif", ImageType::kGif, "GIF", 0},
      {"GIF", "e.tif", ImageType::kTiff, "TIFF", 0}, {"WEBP", "f.png", ImageType::kPng, "PNG", 24},
  };
  for (const Row& row : rows) {
    std::string source = MakeImage(std::string("src.") + row.source_format, row.source_format);
    std::string target = scratch_.Path(row.target);
    ASSERT_TRUE(ConvertImageFile(source, target, row.type, 70)) << row.target;
    Magick::Image out(target);
    EXPECT_EQ(out.magick(), row.decoded_as);
    ASSERT_EQ(out.columns(), 16u) << row.target;
    ASSERT_EQ(out.rows(), 12u) << row.target;
    int tolerance = row.tolerance;
    EXPECT_TRUE(Near(PixelAt(out, 2, 2), kGreen, tolerance)) << row.target << PixelAt(out, 2, 2);
    EXPECT_TRUE(Near(PixelAt(out, 13, 9), kRed, tolerance)) << row.target << PixelAt(out, 13, 9);
    EXPECT_TRUE(Near(PixelAt(out, 13, 2), kRed, tolerance)) << row.target;
  }
}

TEST_F(ImageUtilsTest, SmallSourcesKeepFullQualityLargeOnesTakeTheCallers) {
  std::string small = MakeNoisyBmp("small.bmp", 600, 580);    // about 1 MiB
  std::string large = MakeNoisyBmp("large.bmp", 1500, 1400);  // about 6 MiB
  EXPECT_EQ(EffectiveQuality(small, 70), 100);
  EXPECT_EQ(EffectiveQuality(large, 70), 70);
  EXPECT_EQ(EffectiveQuality(scratch_.Path("missing"), 70), 70);

  ASSERT_TRUE(ConvertImageFile(small, scratch_.Path("small.jpg"), ImageType::kJpeg, 70));
  ASSERT_TRUE(ConvertImageFile(large, scratch_.Path("large.jpg"), ImageType::kJpeg, 70));
  EXPECT_EQ(JpegQuality(scratch_.Path("small.jpg")), "100");
  EXPECT_EQ(JpegQuality(scratch_.Path("large.jpg")), "70");
}

TEST_F(ImageUtilsTest, RefusedConversionsLeaveNoFile) {
  std::string png = MakeImage("a.png", "PNG");
  std::string target = scratch_.Path("out.png");
  EXPECT_FALSE(ConvertImageFile(png, target, ImageType::kNone, 70));
  EXPECT_FALSE(ConvertImageFile(scratch_.Path("missing.png"), target, ImageType::kPng, 70));
  EXPECT_FALSE(ConvertImageFile("", target, ImageType::kPng, 70));
  EXPECT_FALSE(ConvertImageFile(png, "", ImageType::kPng, 70));
  EXPECT_FALSE(Exists(target));
}

// Files that are not what their names say, or not images at all. None may produce output.
TEST_F(ImageUtilsTest, HostileAndMislabelledFiles) {
  std::string png_bytes = scratch::ReadFile(MakeImage("real.png", "PNG"));
  std::string jpeg_bytes = scratch::ReadFile(MakeImage("real.jpg", "JPEG"));
  std::string bmp_bytes = scratch::ReadFile(MakeImage("real.bmp", "BMP3"));

  // PNGs whose (checksummed) headers claim far more pixels than the cap.
  std::string huge_png = WithPngSize(png_bytes, 100000, 100000);
  std::string wide_png = WithPngSize(png_bytes, 20000000, 12);
  // A BMP whose header claims a width far beyond its bytes, and one beyond the cap.
  std::string lying_bmp = bmp_bytes;
  lying_bmp.replace(18, 4, std::string("\x00\x00\x10\x00", 4));
  std::string huge_bmp = bmp_bytes;
  huge_bmp.replace(18, 8, std::string("\xA0\x86\x01\x00\xA0\x86\x01\x00", 8));

  struct Row {
    const char* name;
    std::string bytes;
  } rows[] = {
      {"empty.png", ""},
      {"text.png", "just some words, nothing more\n"},
      {"page.jpg", "<html><body><img src=x onerror=alert(1)></body></html>"},
      {"drawing.png", "<svg xmlns='http://www.w3.org/2000/svg'><rect width='9'/></svg>"},
      {"vector.bmp", "push graphic-context\nviewbox 0 0 10 10\npop graphic-context\n"},
      {"script.gif", "%!PS-Adobe-3.0\nshowpage\n"},
      {"truncated.png", png_bytes.substr(0, png_bytes.size() / 2)},
      {"truncated.jpg", jpeg_bytes.substr(0, jpeg_bytes.size() / 2)},
      {"truncated.bmp", bmp_bytes.substr(0, 40)},
      {"bm-only.bmp", "BM"},
      {"huge.png", huge_png},
      {"wide.png", wide_png},
      {"lying.bmp", lying_bmp},
      {"huge.bmp", huge_bmp},
      // Whole headers, broken data: reading the headers alone would take these.
      {"flipped.png", png_bytes.substr(0, png_bytes.size() - 20) + "\x01" +
                          png_bytes.substr(png_bytes.size() - 19)},
      {"no-end.jpg", jpeg_bytes.substr(0, jpeg_bytes.size() - 2)},
  };
  for (const Row& row : rows) {
    std::string source = scratch_.Path(row.name);
    scratch::WriteFile(source, row.bytes);
    std::string target = scratch_.Path(std::string("out-") + row.name + ".png");
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(IsReadableImage(source)) << row.name;
    EXPECT_FALSE(ConvertImageFile(source, target, ImageType::kPng, 70)) << row.name;
    EXPECT_FALSE(Exists(target)) << row.name;
    ImageRenderer renderer;
    EXPECT_FALSE(renderer.RenderImageScaled(source, target, 20, 20)) << row.name;
    EXPECT_FALSE(Exists(target)) << row.name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << row.name;
  }
}

TEST_F(ImageUtilsTest, DecoderFollowsTheBytesNotTheName) {
  std::string png_named_jpg = scratch_.Path("really-a-png.jpg");
  scratch::WriteFile(png_named_jpg, scratch::ReadFile(MakeImage("x.png", "PNG")));
  EXPECT_TRUE(IsReadableImage(png_named_jpg));
  std::string target = scratch_.Path("from-mislabelled.bmp");
  ASSERT_TRUE(ConvertImageFile(png_named_jpg, target, ImageType::kBmp, 70));
  Magick::Image out(target);
  EXPECT_EQ(PixelAt(out, 2, 2), kGreen);
  EXPECT_EQ(PixelAt(out, 13, 9), kRed);
}

TEST_F(ImageUtilsTest, ReadableImages) {
  for (const char* format : {"BMP", "JPEG", "GIF", "PNG", "TIFF", "WEBP"}) {
    EXPECT_TRUE(IsReadableImage(MakeImage(std::string("r.") + format, format))) << format;
  }
  // Progressive JPEG and interlaced PNG keep their scans apart; the structure test follows.
  for (const char* format : {"JPEG", "PNG"}) {
    Magick::Image image(Magick::Geometry(64, 48), Magick::Color("red"));
    image.addNoise(Magick::GaussianNoise);
    image.interlaceType(Magick::LineInterlace);
    image.magick(format);
    std::string path = scratch_.Path(std::string("interlaced.") + format);
    image.write(path);
    EXPECT_TRUE(IsReadableImage(path)) << format;
  }
  EXPECT_FALSE(IsReadableImage(scratch_.Path("missing.png")));
  EXPECT_FALSE(IsReadableImage(scratch_.path()));
}

TEST_F(ImageUtilsTest, RenderScalesOntoWhiteFromTheSourceOrigin) {
  std::string source = MakeImage("r.png", "PNG");
  std::string target = scratch_.Path("scaled.png");
  ImageRenderer renderer;
  ASSERT_TRUE(renderer.Startup());
  ASSERT_TRUE(renderer.RenderImageScaled(source, target, 32, 24));
  Magick::Image whole(target);
  ASSERT_EQ(whole.columns(), 32u);
  ASSERT_EQ(whole.rows(), 24u);
  EXPECT_EQ(PixelAt(whole, 4, 4), kGreen);
  EXPECT_EQ(PixelAt(whole, 28, 20), kRed);

  // Source origin (8, 6): the picture moves up and left by half the canvas; what lies beyond
  // the picture is white.
  renderer.source.left = 8;
  renderer.source.top = 6;
  ASSERT_TRUE(renderer.RenderImageScaled(source, target, 32, 24));
  Magick::Image shifted(target);
  ASSERT_EQ(shifted.columns(), 32u);
  EXPECT_EQ(PixelAt(shifted, 4, 4), kRed);
  EXPECT_EQ(PixelAt(shifted, 12, 8), kRed);
  EXPECT_EQ(PixelAt(shifted, 24, 4), kWhite);
  EXPECT_EQ(PixelAt(shifted, 4, 18), kWhite);
  EXPECT_EQ(PixelAt(shifted, 28, 20), kWhite);
}

TEST_F(ImageUtilsTest, TransparentPixelsRenderWhite) {
  Magick::Image image(Magick::Geometry(10, 10), Magick::Color("transparent"));
  image.magick("PNG");
  std::string source = scratch_.Path("clear.png");
  image.write(source);
  std::string target = scratch_.Path("clear-out.png");
  ImageRenderer renderer;
  ASSERT_TRUE(renderer.RenderImageScaled(source, target, 5, 5));
  EXPECT_EQ(PixelAt(Magick::Image(target), 2, 2), kWhite);
}

TEST_F(ImageUtilsTest, RenderWithoutSizeIsAPlainPngConversion) {
  std::string source = MakeImage("r.bmp", "BMP");
  std::string target = scratch_.Path("plain.png");
  ImageRenderer renderer;
  ASSERT_TRUE(renderer.RenderImageScaled(source, target, 100, -1));
  Magick::Image out(target);
  EXPECT_EQ(out.magick(), "PNG");
  EXPECT_EQ(out.columns(), 16u);
  EXPECT_EQ(PixelAt(out, 2, 2), kGreen);
}

TEST_F(ImageUtilsTest, RenderRefusesBadSizes) {
  std::string source = MakeImage("r.png", "PNG");
  std::string target = scratch_.Path("bad.png");
  ImageRenderer renderer;
  EXPECT_FALSE(renderer.RenderImageScaled(source, target, 0, 10));
  EXPECT_FALSE(renderer.RenderImageScaled(source, target, 10, -5));
  EXPECT_FALSE(renderer.RenderImageScaled(source, target, 100000, 100000));
  EXPECT_FALSE(renderer.RenderImageScaled(scratch_.Path("missing.png"), target, 10, 10));
  EXPECT_FALSE(renderer.RenderImageScaled("", target, 10, 10));
  EXPECT_FALSE(Exists(target));
}

// Request threads convert at the same time; each must get its own picture back.
TEST_F(ImageUtilsTest, ConcurrentConversionsStayApart) {
  std::string source = MakeImage("shared.bmp", "BMP");
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      std::string target = scratch_.Path("c" + std::to_string(t) + (t % 2 ? ".png" : ".tif"));
      for (int i = 0; i < 5; ++i) {
        if (!ConvertImageFile(source, target, t % 2 ? ImageType::kPng : ImageType::kTiff, 70)) {
          return;
        }
        Magick::Image out(target);
        if (!(PixelAt(out, 2, 2) == kGreen) || !(PixelAt(out, 13, 9) == kRed)) return;
      }
      ++good;
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(good.load(), 6);
}

}  // namespace

namespace {

// An 8x8 PNG with the IHDR fields depth, colour, compression, filter and interlace (5 bytes),
// and `chunks` between IHDR and the image data.
std::string PngOf(const std::string& fields, const std::string& chunks = "", uint32_t side = 8) {
  std::string png = generated_png::NoisePng(8, 8, 3);
  std::string header, ihdr;
  generated_png::PutBig32(&header, side);
  generated_png::PutBig32(&header, 8);
  generated_png::PutChunk(&ihdr, "IHDR", header + fields);
  return png.substr(0, 8) + ihdr + chunks + png.substr(33);
}

std::string Chunk(const char type[4], const std::string& data) {
  std::string chunk;
  generated_png::PutChunk(&chunk, type, data);
  return chunk;
}

}  // namespace

// The PNG header test that spares the image library: it may answer "a picture" only where the
// library says so too; everything unusual is left to the library.
TEST_F(ImageUtilsTest, PlainPngHeadersAreReadableWithoutTheLibrary) {
  const std::string rgb("\x08\x02\0\0\0", 5), palette("\x08\x03\0\0\0", 5);
  const std::string plte = Chunk("PLTE", std::string(6, 'p'));
  const std::string common = Chunk("gAMA", std::string("\0\0\xB1\x8F", 4)) +
                             Chunk("pHYs", std::string(9, '\0')) +
                             Chunk("tEXt", std::string("Software\0x", 10)) +
                             Chunk("tIME", std::string(7, '\x01'));
  Magick::Image grey(Magick::Geometry(9, 7), Magick::Color("gray"));
  grey.type(Magick::GrayscaleType);
  grey.magick("PNG");
  Magick::Blob written;
  grey.write(&written);
  struct Row {
    const char* name;
    std::string png;
    bool plain;
  } const rows[] = {
      {"RGB", PngOf(rgb), true},
      {"common chunks", PngOf(rgb, common), true},
      {"written by the library", std::string(static_cast<const char*>(written.data()),
                                             written.length()), true},
      {"RGBA 16-bit interlaced", PngOf(std::string("\x10\x06\0\0\x01", 5)), true},
      {"grey 1-bit", PngOf(std::string("\x01\0\0\0\0", 5)), true},
      {"palette", PngOf(palette, plte + Chunk("tRNS", "\x01")), true},
      {"suggested palette of RGB", PngOf(rgb, plte), true},
      {"gAMA of a wrong length", PngOf(rgb, Chunk("gAMA", "xy")), true},
      {"tRNS of a wrong length", PngOf(rgb, Chunk("tRNS", "xyz")), true},
      {"palette missing", PngOf(palette), false},
      {"palette of a part entry", PngOf(palette, Chunk("PLTE", "ppppp")), false},
      {"two palettes", PngOf(palette, plte + plte), false},
      {"tRNS before the palette", PngOf(palette, Chunk("tRNS", "\x01") + plte), false},
      {"palette in a grey picture", PngOf(std::string("\x08\0\0\0\0", 5), plte), false},
      {"RGB of depth 4", PngOf(std::string("\x04\x02\0\0\0", 5)), false},
      {"colour type 5", PngOf(std::string("\x08\x05\0\0\0", 5)), false},
      {"compression 1", PngOf(std::string("\x08\x02\x01\0\0", 5)), false},
      {"filter 1", PngOf(std::string("\x08\x02\0\x01\0", 5)), false},
      {"interlace 2", PngOf(std::string("\x08\x02\0\0\x02", 5)), false},
      {"width 0", PngOf(rgb, "", 0), false},
      {"wider than the reader's limit", PngOf(rgb, "", 1000001), false},
      {"unknown critical chunk", PngOf(rgb, Chunk("ABCD", "x")), false},
      {"unknown ancillary chunk", PngOf(rgb, Chunk("abCd", "x")), false},
      {"colour profile", PngOf(rgb, Chunk("iCCP", std::string("p\0\0x", 4))), false},
      {"large text", PngOf(rgb, Chunk("tEXt", "k\0" + std::string(70000, 't'))), false},
  };
  const ImageCodecs* library = GetImageCodecs();
  ASSERT_NE(library, nullptr);
  for (const Row& row : rows) {
    size_t header_bytes = 0;
    if (WalkImageStructure(row.png, &header_bytes) != ImageStructure::kWhole) {
      EXPECT_FALSE(row.plain) << row.name;  // never reaches the header test
      continue;
    }
    std::string_view header = std::string_view(row.png).substr(0, header_bytes);
    EXPECT_EQ(PngHeaderIsPlain(header), row.plain) << row.name;
    if (row.plain) EXPECT_TRUE(library->ping_header(header)) << row.name;
  }
}
