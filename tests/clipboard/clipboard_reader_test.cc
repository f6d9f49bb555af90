// ClipboardReader against a real X server and our own clipboard owner: HTML, text and image
// capture, with the user's copied files checked byte for byte before and after.

#include "clipboard/clipboard_reader.h"

#include <Magick++.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <vector>

#include "imaging/emf_fixture.h"
#include "imaging/image_utils.h"
#include "imaging/pixel_support.h"
#include "support/scratch_folder.h"
#include "support/x_display.h"
#include "workspace/folder_deletion.h"
#include "workspace/path_macros.h"

namespace {

using xtest::Offers;

std::string EncodeImage(const std::string& format, int width, int height, const char* color) {
  Magick::Image image(Magick::Geometry(width, height), Magick::Color(color));
  image.magick(format);
  Magick::Blob blob;
  image.write(&blob);
  return std::string(static_cast<const char*>(blob.data()), blob.length());
}

// A BMP whose header claims a width far beyond its pixels.
std::string LyingBitmap() {
  std::string bmp = EncodeImage("BMP", 4, 4, "red");
  bmp.replace(18, 4, "\xFF\xFF\xFF\x0F");
  return bmp;
}

class ClipboardReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InitializeImaging());
    ASSERT_TRUE(server_.ok());
  }

  void Offer(const Offers& offers, std::vector<std::string> flags = {}) {
    owner_.reset();
    owner_ = xtest::OfferOnClipboard(offers_.path(), offers, flags);
    ASSERT_TRUE(owner_->ok());
  }

  // Captures into the private temp folder; returns the paths.
  std::vector<std::string> Capture() {
    ClipboardReader reader("");
    std::vector<std::string> paths;
    reader.CaptureImages(&paths);
    return paths;
  }

  int WorkFolders() { return scratch::CountEntries(temp_ / "TAVU"); }

  xtest::XServer server_;
  scratch::ScratchFolder offers_;
  scratch::ScratchFolder temp_;
  scratch::TempDirOverride temp_override_{temp_.path()};
  std::unique_ptr<xtest::ClipboardOwner> owner_;
};

TEST_F(ClipboardReaderTest, ReadHtmlFindsTheDocumentOfEveryOffer) {
  const std::string office =
      "<html xmlns:v=\"urn:schemas-microsoft-com:vml\"><body><v:imagedata src=\"file:///x/a.png\" "
      "o:title=\"\"/></body></html>";
  struct Row {
    Offers offers;
    bool found;
    std::string html;
    int is_office;  // 7: left untouched
  } rows[] = {
      {{{"text/html", "<meta charset='utf-8'><b>caf\xC3\xA9</b>"}},
       true,
       "<html><body><!--StartFragment--><meta charset='utf-8'><b>caf\xC3\xA9</b>"
       "<!--EndFragment--></body></html>",
       0},
      {{{"text/html", "<!DOCTYPE html><html><body>p</body></html>\n"}},
       true,
       "<html><body>p</body></html>",
       0},
      {{{"text/html", office}},
       true,
       "<html xmlns:v=\"urn:schemas-microsoft-com:vml\"><body><img src=\"file:///x/a.png\" "
       "o:title=\"\"/></body></html>",
       1},
      {{{"text/html", "<p>\xFF</p>"}},
       true,
       "<html><body><!--StartFragment--><p>\xEF\xBF\xBD</p><!--EndFragment--></body></html>",
       0},
      {{{"text/html", std::string("\xFF\xFE<\0i\0>\0\xE9\0", 10)}},
       true,
       "<html><body><!--StartFragment--><i>\xC3\xA9<!--EndFragment--></body></html>",
       0},
      {{{"text/html", "<Html><Body>x</Body></Html>"}}, false, "", 0},
      {{{"UTF8_STRING", "<html>text, not HTML</html>"}}, false, "", 7},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.offers[0].second);
    Offer(row.offers);
    ClipboardReader reader("");
    std::string html;
    int is_office = 7;
    EXPECT_EQ(reader.ReadHtml(&html, &is_office), row.found);
    EXPECT_EQ(html, row.html);
    EXPECT_EQ(is_office, row.is_office);
  }
}

TEST_F(ClipboardReaderTest, ReadTextPrefersUnicodeAndConvertsLatin1) {
  struct Row {
    Offers offers;
    std::string text;
  } rows[] = {
      {{{"STRING", "caf\xE9"}, {"UTF8_STRING", "caf\xC3\xA9 utf8"}}, "caf\xC3\xA9 utf8"},
      {{{"text/plain;charset=utf-8", std::string("line\r\nend\0junk", 14)}}, "line\r\nend"},
      {{{"STRING", "caf\xE9 na\xEFve"}}, "caf\xC3\xA9 na\xC3\xAFve"},
      {{{"UTF8_STRING", "bad \xC3"}}, "bad \xEF\xBF\xBD"},
      {{{"text/html", "<b>x</b>"}}, ""},
  };
  for (const Row& row : rows) {
    Offer(row.offers);
    EXPECT_EQ(ClipboardReader("").ReadText(), row.text);
  }
}

// Bitmaps become one PNG each; TIFF is stored as it came, under a ".gif" name.
TEST_F(ClipboardReaderTest, EachImageBecomesOneFile) {
  struct Row {
    const char* target;
    std::string bytes;
    bool handed_on;  // the offered file itself is the capture
    const char* extension;
    const char* format;
  } rows[] = {
      {"image/png", EncodeImage("PNG", 40, 30, "red"), true, ".png", "PNG"},
      {"image/bmp", EncodeImage("BMP", 40, 30, "red"), false, ".png", "PNG"},
      {"image/png", EncodeImage("JPEG", 40, 30, "red"), false, ".png", "PNG"},  // misnamed
      {"image/tiff", EncodeImage("TIFF", 40, 30, "red"), true, ".gif", "TIFF"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.target) + " " + row.format);
    Offer({{row.target, row.bytes}, {"UTF8_STRING", "t"}});
    std::vector<std::string> paths = Capture();
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(FileExtension(paths[0]), row.extension);
    EXPECT_EQ(scratch::ReadFile(paths[0]) == row.bytes, row.handed_on);
    Magick::Image image(paths[0]);
    EXPECT_EQ(image.magick(), row.format);
    EXPECT_EQ(image.columns(), 40u);
    EXPECT_TRUE(Near(PixelAt(image, 39, 29), kRed, 4)) << PixelAt(image, 39, 29);
    EXPECT_EQ(WorkFolders(), 1);  // an intermediate bitmap's folder is gone
    DeleteFoldersOf(paths);
    EXPECT_EQ(WorkFolders(), 0);
  }
}

TEST_F(ClipboardReaderTest, MetafileRendersAtFrameSizeTimesFourThirds) {
  // A frame of 25.4 mm x 12.7 mm on the 1920 x 1080 px, 508 x 286 mm screen: 96 x 47.96
  // pixels, truncated to 96 x 47, rendered at 128 x 62 (4/3, truncated).
  Offer({{"image/emf", BuildEmf(0, 0, 99, 49, 0, 0, 2540, 1270, 0, 0, 100, 50, 0x00FF00)}});
  std::vector<std::string> paths = Capture();
  ASSERT_EQ(paths.size(), 1u);
  Magick::Image image(paths[0]);
  EXPECT_EQ(image.columns(), 128u);
  EXPECT_EQ(image.rows(), 62u);
  EXPECT_TRUE(Near(PixelAt(image, 64, 31), kGreen, 8)) << PixelAt(image, 64, 31);
  EXPECT_EQ(WorkFolders(), 1);  // the metafile copy's folder is gone
  DeleteFoldersOf(paths);

  Offer({{"image/x-emf", "not a metafile"}});
  EXPECT_EQ(Capture(), std::vector<std::string>{""});  // cannot be measured
  EXPECT_EQ(WorkFolders(), 0);

  // A well-formed header over records the renderer cannot draw: the PNG's name is handed on
  // without a file, and its folder goes with the caller's clean-up.
  std::string broken = BuildEmf(0, 0, 99, 49, 0, 0, 2540, 1270, 0, 0, 100, 50, 0x00FF00);
  broken.replace(108, std::string::npos, std::string(64, '\xFF'));
  Offer({{"image/emf", broken}});
  paths = Capture();
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(FileExtension(paths[0]), ".png");
  EXPECT_FALSE(scratch::Exists(paths[0]));
  DeleteFoldersOf(paths);
  EXPECT_EQ(WorkFolders(), 0);
}

TEST_F(ClipboardReaderTest, CopiedFilesAreCopiedAndNeverHandedOn) {
  scratch::ScratchFolder user;
  const std::string jpeg = EncodeImage("JPEG", 8, 8, "red");
  scratch::WriteFile(user / "PHOTO.JPG", jpeg);
  scratch::WriteFile(user / "notes.txt", "text");
  scratch::WriteFile(user / "pic.bmp", EncodeImage("BMP", 6, 4, "green"));
  scratch::WriteFile(user / "broken.bmp", "BM but no bitmap");
  const std::string deep = std::string(200, 'd') + "/" + std::string(100, 'n') + ".png";
  ASSERT_EQ(mkdir((user / std::string(200, 'd')).c_str(), 0700), 0);
  scratch::WriteFile(user / deep, scratch::TinyPng());  // a path far over 260 characters
  ASSERT_EQ(mkfifo((user / "pipe.png").c_str(), 0600), 0);
  ASSERT_EQ(mkdir((user / "folder.png").c_str(), 0700), 0);
  const std::vector<std::string> names = {"PHOTO.JPG", "notes.txt", "pic.bmp", "broken.bmp"};
  std::vector<std::string> before;
  for (const std::string& name : names) before.push_back(scratch::ReadFile(user / name));
  std::string list;
  for (const std::string& name :
       {std::string("PHOTO.JPG"), std::string("notes.txt"), std::string("broken.bmp"),
        std::string("pipe.png"), std::string("folder.png"), std::string("gone.png"),
        std::string("pic.bmp"), deep}) {
    list += "file://" + user.path() + "/" + name + "\r\n";
  }
  Offer({{"text/uri-list", list + std::string(1, '\0')}});

  std::vector<std::string> paths = Capture();
  ASSERT_EQ(paths.size(), 3u);
  EXPECT_EQ(FileExtension(paths[0]), ".jpg");
  EXPECT_TRUE(scratch::ReadFile(paths[0]) == jpeg);
  EXPECT_EQ(Magick::Image(paths[1]).magick(), "PNG");
  EXPECT_EQ(scratch::ReadFile(paths[2]), scratch::TinyPng());
  DeleteFoldersOf(paths);
  EXPECT_EQ(WorkFolders(), 0);
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_TRUE(scratch::ReadFile(user / names[i]) == before[i]) << names[i];
  }
}

// Includes a huge list of missing files, which must stay cheap.
TEST_F(ClipboardReaderTest, NothingToCaptureMakesNoFolder) {
  std::string huge_list = "copy\n";
  for (int i = 0; i < 10000; ++i) {
    huge_list += "file:///nowhere/missing" + std::to_string(i) + (i % 2 ? ".png\n" : ".txt\n");
  }
  struct Row {
    Offers offers;
    std::vector<std::string> flags;
  } rows[] = {
      {{{"UTF8_STRING", "just text"}}, {}},
      {{{"image/bmp", LyingBitmap()}}, {}},
      {{{"image/png", EncodeImage("PNG", 4, 4, "red")}}, {"--hang"}},
      {{{"image/png", EncodeImage("PNG", 4, 4, "red")}}, {"--refuse"}},
      {{{"x-special/gnome-copied-files", huge_list}}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.offers[0].first + (row.flags.empty() ? "" : " " + row.flags[0]));
    Offer(row.offers, row.flags);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Capture().empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
    EXPECT_EQ(WorkFolders(), 0);
  }
  owner_.reset();  // an empty clipboard
  EXPECT_TRUE(Capture().empty());
  EXPECT_EQ(WorkFolders(), 0);
}

}  // namespace
