#include "imaging/image_utils.h"

#include <gtest/gtest.h>

#include <Magick++.h>

#include "image_test_support.h"

namespace {

class ImageUtilsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(InitializeImaging()); }

  // A 8x6 picture: red everywhere, a green 4x3 block at the top-left.
  std::string MakeImage(const std::string& name, const std::string& format) {
    Magick::Image image(Magick::Geometry(8, 6), Magick::Color("red"));
    image.fillColor("lime");
    image.draw(Magick::DrawableRectangle(0, 0, 3, 2));
    image.magick(format);
    std::string path = scratch_.Path(name);
    image.write(path);
    return path;
  }

  ScratchFolder scratch_;
};

TEST(ImageTypeFromExtension, MapsExtensionsWithoutRegardToCase) {
  struct Row {
    const char* extension;
    ImageType type;
  } rows[] = {
      {".bmp", ImageType::kBmp},  {".JPG", ImageType::kJpeg}, {".Jpeg", ImageType::kJpeg},
      {".gif", ImageType::kGif},  {".PNG", ImageType::kPng},  {".tif", ImageType::kTiff},
      {".TIFF", ImageType::kTiff}, {".webp", ImageType::kNone}, {"", ImageType::kNone},
      {"png", ImageType::kNone},  {".pngx", ImageType::kNone}, {".jp", ImageType::kNone},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ImageTypeFromExtension(row.extension), row.type) << row.extension;
  }
}

TEST_F(ImageUtilsTest, ConvertsBmpToPngKeepingPixels) {
  std::string bmp = MakeImage("a.bmp", "BMP");
  std::string png = scratch_.Path("a.png");
  ASSERT_TRUE(ConvertImageFile(bmp, png, ImageType::kPng, 70));
  Magick::Image out(png);
  EXPECT_EQ(out.magick(), "PNG");
  ASSERT_EQ(out.columns(), 8u);
  ASSERT_EQ(out.rows(), 6u);
  EXPECT_EQ(Magick::Color(out.pixelColor(1, 1)), Magick::Color("lime"));
  EXPECT_EQ(Magick::Color(out.pixelColor(6, 5)), Magick::Color("red"));
}

}  // namespace
