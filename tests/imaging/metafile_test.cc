#include "imaging/metafile.h"

#include <Magick++.h>
#include <gtest/gtest.h>

#include "emf_fixture.h"
#include "image_test_support.h"
#include "imaging/image_utils.h"
#include "pixel_support.h"

namespace {

class MetafileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(InitializeImaging()); }

  // Bounds (100,100)-(199,149): a 100 x 50 picture whose left half is a red rectangle.
  std::string WriteHalfRed(const std::string& name) {
    std::string path = scratch_.Path(name);
    scratch::WriteFile(path,
               BuildEmf(100, 100, 199, 149, 2646, 2646, 5292, 3969, 100, 100, 150, 150, 0xFF0000));
    return path;
  }

  ScratchFolder scratch_;
};

TEST_F(MetafileTest, ReadsFrameAndBounds) {
  EmfHeader header;
  ASSERT_TRUE(ReadEmfHeader(WriteHalfRed("a.emf"), &header));
  EXPECT_EQ(header.bounds.left, 100);
  EXPECT_EQ(header.bounds.top, 100);
  EXPECT_EQ(header.bounds.right, 199);
  EXPECT_EQ(header.bounds.bottom, 149);
  EXPECT_EQ(header.frame.left, 2646);
  EXPECT_EQ(header.frame.top, 2646);
  EXPECT_EQ(header.frame.right, 5292);
  EXPECT_EQ(header.frame.bottom, 3969);
  EXPECT_EQ(header.device_width, 1920);
  EXPECT_EQ(header.device_height, 1080);
  EXPECT_EQ(header.millimeters_width, 508);
  EXPECT_EQ(header.millimeters_height, 286);
}

TEST_F(MetafileTest, RefusesMalformedHeaders) {
  std::string good = scratch::ReadFile(WriteHalfRed("a.emf"));
  std::string wrong_signature = good;
  wrong_signature[40] = 'X';
  std::string wrong_type = good;
  wrong_type[0] = 2;
  std::string oversized = good;
  oversized.replace(4, 4, std::string("\0\0\1\0", 4));  // header larger than the file
  for (const std::string& bytes :
       {good.substr(0, 87), wrong_signature, wrong_type, oversized, std::string()}) {
    EmfHeader header;
    EXPECT_FALSE(ParseEmfHeader(bytes, &header)) << bytes.size();
  }
  EmfHeader header;
  EXPECT_FALSE(ReadEmfHeader(scratch_.Path("missing.emf"), &header));
}

TEST_F(MetafileTest, RendersStretchedOntoWhite) {
  std::string target = scratch_.Path("out.png");
  ImageRenderer renderer;
  renderer.source.left = 100;  // the bounds' corner, as the clipboard capture sets it
  renderer.source.top = 100;
  ASSERT_TRUE(renderer.RenderImageScaled(WriteHalfRed("a.emf"), target, 200, 50));
  Magick::Image out(target);
  EXPECT_EQ(out.magick(), "PNG");
  ASSERT_EQ(out.columns(), 200u);
  ASSERT_EQ(out.rows(), 50u);
  EXPECT_EQ(PixelAt(out, 40, 25), kRed);
  EXPECT_EQ(PixelAt(out, 95, 10), kRed);
  EXPECT_EQ(PixelAt(out, 110, 25), kWhite);
  EXPECT_EQ(PixelAt(out, 190, 45), kWhite);
}

TEST_F(MetafileTest, SourceOriginShiftsThePicture) {
  std::string target = scratch_.Path("out.png");
  ImageRenderer renderer;
  renderer.source.left = 125;  // a quarter of the picture in from the left
  renderer.source.top = 100;
  ASSERT_TRUE(renderer.RenderImageScaled(WriteHalfRed("a.emf"), target, 100, 50));
  Magick::Image out(target);
  EXPECT_EQ(PixelAt(out, 10, 25), kRed);
  EXPECT_EQ(PixelAt(out, 35, 25), kWhite);  // red ended at picture x 50, canvas x 25
  EXPECT_EQ(PixelAt(out, 90, 25), kWhite);  // beyond the picture
}

TEST_F(MetafileTest, BrokenMetafilesRenderNothing) {
  std::string good = scratch::ReadFile(WriteHalfRed("a.emf"));
  std::string empty_bounds = good;
  empty_bounds.replace(16, 4, std::string("\x10\0\0\0", 4));  // right < left
  std::string cut = good.substr(0, 120);
  for (const std::string& bytes : {empty_bounds, cut}) {
    std::string source = scratch_.Path("bad.emf");
    scratch::WriteFile(source, bytes);
    std::string target = scratch_.Path("bad.png");
    ImageRenderer renderer;
    renderer.source.left = 100;
    renderer.source.top = 100;
    EXPECT_FALSE(renderer.RenderImageScaled(source, target, 50, 50)) << bytes.size();
    EXPECT_FALSE(Exists(target));
  }
}

TEST_F(MetafileTest, MetafilesAreNotReadableImages) {
  // The file-record image test is for pictures the page can show; a metafile is rendered first.
  EXPECT_FALSE(IsReadableImage(WriteHalfRed("a.emf")));
}

}  // namespace
