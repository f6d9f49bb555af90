#include "imaging/webp.h"

#include <Magick++.h>
#include <gtest/gtest.h>

#include "image_test_support.h"
#include "imaging/image_utils.h"
#include "platform/file_system.h"

namespace {

class WebpTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(InitializeImaging()); }

  // A real WebP picture: 6x4, left half red, right half blue, written losslessly.
  std::string MakeWebp(const std::string& name) {
    Magick::Image image(Magick::Geometry(6, 4), Magick::Color("blue"));
    image.fillColor("red");
    image.draw(Magick::DrawableRectangle(0, 0, 2, 3));
    image.magick("WEBP");
    image.defineValue("webp", "lossless", "true");
    std::string path = scratch_.Path(name);
    image.write(path);
    return path;
  }

  ScratchFolder scratch_;
};

TEST_F(WebpTest, RiffSignatureIsFourBytes) {
  struct Row {
    std::string bytes;
    bool riff;
  } rows[] = {
      {"RIFF\x24\0\0\0WAVEfmt ", true},  // any RIFF form passes
      {"RIFF", true},
      {"RI", false},
      {"", false},
      {"riff0000WEBP", false},
      {"\x89PNG\r\n\x1a\n", false},
  };
  for (const Row& row : rows) {
    std::string path = scratch_.Path("f");
    scratch::WriteFile(path, row.bytes);
    EXPECT_EQ(IsRiffFile(path), row.riff) << row.bytes;
  }
  EXPECT_FALSE(IsRiffFile(scratch_.Path("missing")));
  EXPECT_FALSE(IsRiffFile(scratch_.path()));  // a folder
}

TEST_F(WebpTest, ConvertsWithBlanksInPathsAndKeepsPixels) {
  std::string source = MakeWebp("in put.webp");
  std::string destination = scratch_.Path("out put.png");
  ASSERT_TRUE(ConvertWebpToPng(source, destination));
  Magick::Image png(destination);
  EXPECT_EQ(png.magick(), "PNG");
  ASSERT_EQ(png.columns(), 6u);
  ASSERT_EQ(png.rows(), 4u);
  Magick::ColorRGB left = png.pixelColor(1, 2);
  Magick::ColorRGB right = png.pixelColor(5, 1);
  EXPECT_DOUBLE_EQ(left.red(), 1.0);
  EXPECT_DOUBLE_EQ(left.blue(), 0.0);
  EXPECT_DOUBLE_EQ(right.red(), 0.0);
  EXPECT_DOUBLE_EQ(right.blue(), 1.0);
}

TEST_F(WebpTest, FailedDecodeLeavesNoFile) {
  std::string source = scratch_.Path("broken.webp");
  scratch::WriteFile(source, std::string("RIFF\x10\0\0\0WEBPVP8 \x04\0\0\0junk", 24));
  std::string destination = scratch_.Path("broken.png");
  EXPECT_FALSE(ConvertWebpToPng(source, destination));
  EXPECT_FALSE(Exists(destination));
  EXPECT_FALSE(ConvertWebpToPng(scratch_.Path("missing.webp"), destination));
  EXPECT_FALSE(Exists(destination));
}

TEST_F(WebpTest, MissingDecoderFails) {
  if (Exists(EditorDataFolder() + "/dwebp.exe"))
    GTEST_SKIP() << "the editor's decoder is installed";
  std::string source = MakeWebp("a.webp");
  std::string destination = scratch_.Path("a.png");
  const char* saved = getenv("PATH");
  std::string saved_path = saved ? saved : "";
  setenv("PATH", scratch_.path().c_str(), 1);  // a folder without any decoder
  bool converted = ConvertWebpToPng(source, destination);
  setenv("PATH", saved_path.c_str(), 1);
  EXPECT_FALSE(converted);
  EXPECT_FALSE(Exists(destination));
}

// Stand-in decoders on PATH show that success needs both a clean exit and a written PNG.
TEST_F(WebpTest, SuccessNeedsTheDecodersExitAndItsFile) {
  if (Exists(EditorDataFolder() + "/dwebp.exe"))
    GTEST_SKIP() << "the editor's decoder is installed";
  std::string bin = scratch_.Path("bin");
  ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
  std::string source = MakeWebp("a.webp");
  std::string destination = scratch_.Path("a.png");
  struct Row {
    const char* what;
    const char* script;
  } rows[] = {
      {"exits 0, writes nothing", "#!/bin/sh\nexit 0\n"},
      {"writes part, then fails", "#!/bin/sh\nprintf '\\211PNG' > \"$3\"\nexit 1\n"},
      {"exits 0, writes an empty file", "#!/bin/sh\n: > \"$3\"\nexit 0\n"},
  };
  const char* saved = getenv("PATH");
  std::string saved_path = saved ? saved : "";
  for (const Row& row : rows) {
    std::string decoder = bin + "/dwebp";
    scratch::WriteFile(decoder, row.script);
    ASSERT_EQ(chmod(decoder.c_str(), 0755), 0);
    setenv("PATH", bin.c_str(), 1);
    bool converted = ConvertWebpToPng(source, destination);
    setenv("PATH", saved_path.c_str(), 1);
    EXPECT_FALSE(converted) << row.what;
    EXPECT_FALSE(Exists(destination)) << row.what;
  }
}

TEST_F(WebpTest, NameStartingWithDashIsAFileNotAnOption) {
  std::string source = MakeWebp("-v.webp");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(scratch_.path().c_str()), 0);
  bool converted = ConvertWebpToPng("-v.webp", "-v.png");
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_TRUE(converted);
  EXPECT_TRUE(Exists(scratch_.Path("-v.png")));
}

}  // namespace
