#include "word/html_image_document.h"

#include <Magick++.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "html/html_document.h"
#include "imaging/image_utils.h"
#include "platform/log.h"

namespace {

namespace fs = std::filesystem;

std::string Base64(const std::string& bytes) {
  gchar* text = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  std::string out(text);
  g_free(text);
  return out;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class HtmlImageDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "orvo-word-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::vector<std::string> FilesInFolder() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_))
      names.push_back(entry.path().string());
    return names;
  }

  std::string folder_;
};

TEST(HtmlImageDocumentLoad, EmptyTextFailsAndDropsTheEarlierPage) {
  HtmlImageDocument doc;
  EXPECT_EQ(doc.GetOuterHtml(), "");
  ASSERT_TRUE(doc.LoadHtml("<p>x</p>"));
  EXPECT_FALSE(doc.LoadHtml(""));
  EXPECT_EQ(doc.document(), nullptr);
  EXPECT_EQ(doc.GetOuterHtml(), "");
}

TEST(HtmlImageDocumentList, ListsDistinctSourcesOnceWithLogLines) {
  HtmlImageDocument doc;
  ASSERT_TRUE(doc.LoadHtml(
      "<img src=a.png><IMG SRC='b&amp;c.png'><img src=\"a.png\"><img><img src=pre.gif>"));
  std::vector<std::string> list = {"pre.gif"};
  testing::internal::CaptureStdout();
  EXPECT_TRUE(doc.GetResourceList(list, "img"));
  EXPECT_EQ((FlushLog(), testing::internal::GetCapturedStdout()),
            "\nstart GetResourceList\nimage count [5]\nimg src= [a.png]\nimg src= [b&c.png]");
  EXPECT_EQ(list, (std::vector<std::string>{"pre.gif", "a.png", "b&c.png"}));
}

TEST(HtmlImageDocumentList, NoImagesPrintsCountZeroAndFails) {
  HtmlImageDocument doc;
  ASSERT_TRUE(doc.LoadHtml("<p>text</p>"));
  std::vector<std::string> list;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(doc.GetResourceList(list, "img"));
  EXPECT_EQ((FlushLog(), testing::internal::GetCapturedStdout()),
            "\nstart GetResourceList\nimage count [0]");
  EXPECT_TRUE(list.empty());
}

TEST(HtmlImageDocumentList, WithoutAPageOnlyTheFirstLine) {
  HtmlImageDocument doc;
  std::vector<std::string> list;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(doc.GetResourceList(list, "img"));
  EXPECT_EQ((FlushLog(), testing::internal::GetCapturedStdout()), "\nstart GetResourceList");
}

TEST(HtmlImageDocumentOuterHtml, RestoresEveryAmpersand) {
  HtmlImageDocument doc;
  ASSERT_TRUE(doc.LoadHtml("<p>a&amp;b <a href=\"x?a=1&amp;b=2\">l</a> &amp;amp;</p>"));
  EXPECT_EQ(doc.GetOuterHtml(),
            "<html><head></head><body><p>a&b <a href=\"x?a=1&b=2\">l</a> &amp;</p></body></html>");
}

TEST_F(HtmlImageDocumentTest, CutsDataImagesOutIntoFiles) {
  const std::string png_bytes = std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + "rest";
  const std::string jpeg_bytes = "\xFF\xD8\xFF\xE0 jpeg";
  const std::string gif_bytes = "GIF89a....";
  HtmlImageDocument doc;
  ASSERT_TRUE(
      doc.LoadHtml("<html><body><img src=\"data:image/png;base64," + Base64(png_bytes) +
                   "\">"
                   "<img alt=j src='data:image/jpeg;base64," +
                   Base64(jpeg_bytes) +
                   "'>"
                   "<img src=\"data:text/plain;base64," +
                   Base64(gif_bytes) +
                   "\">"
                   "<img src=\"data:image/png,raw\"><img src=\"http://h/x.png\"></body></html>"));
  ASSERT_TRUE(doc.ExtractDataImages(folder_));
  const HtmlDocument* engine = doc.document();
  ASSERT_NE(engine, nullptr);
  std::vector<int> images = engine->ElementsByTagName("img");
  std::vector<std::string> sources;
  for (int e : images) sources.push_back(engine->GetAttribute(e, "src"));
  ASSERT_EQ(sources.size(), 5u);
  struct Expected {
    const char* extension;
    const std::string* bytes;
  } files[] = {{".png", &png_bytes}, {".jpg", &jpeg_bytes}, {".gif", &gif_bytes}};
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(fs::path(sources[k]).parent_path(), fs::path(folder_)) << sources[k];
    EXPECT_EQ(fs::path(sources[k]).extension(), files[k].extension) << sources[k];
    EXPECT_EQ(ReadBytes(sources[k]), *files[k].bytes) << sources[k];
  }
  EXPECT_EQ(sources[3], "data:image/png,raw");
  EXPECT_EQ(sources[4], "http://h/x.png");
  EXPECT_EQ(FilesInFolder().size(), 3u);
  EXPECT_EQ(doc.GetOuterHtml(), "<html><head></head><body><img src=\"" + sources[0] +
                                    "\"><img alt=j src='" + sources[1] + "'><img src=\"" +
                                    sources[2] +
                                    "\"><img src=\"data:image/png,raw\"><img "
                                    "src=\"http://h/x.png\"></body></html>");
}

TEST_F(HtmlImageDocumentTest, SameDataTwiceGivesTwoFiles) {
  std::string uri = "data:image/gif;base64," + Base64("GIF89a");
  HtmlImageDocument doc;
  ASSERT_TRUE(doc.LoadHtml("<img src=\"" + uri + "\"><img src=\"" + uri + "\">"));
  ASSERT_TRUE(doc.ExtractDataImages(folder_));
  std::vector<std::string> list;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(doc.GetResourceList(list, "img"));
  (FlushLog(), testing::internal::GetCapturedStdout());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_NE(list[0], list[1]);
  EXPECT_EQ(ReadBytes(list[0]), "GIF89a");
  EXPECT_EQ(ReadBytes(list[1]), "GIF89a");
}

TEST_F(HtmlImageDocumentTest, UnwritableFolderLeavesTheDataSource) {
  std::string blocker = folder_ + "/file";
  std::ofstream(blocker) << "x";
  std::string uri = "data:image/gif;base64," + Base64("GIF89a");
  HtmlImageDocument doc;
  ASSERT_TRUE(doc.LoadHtml("<img src=\"" + uri + "\">"));
  EXPECT_TRUE(doc.ExtractDataImages(blocker + "/sub"));  // a folder under a file
  EXPECT_EQ(doc.document()->GetAttribute(doc.document()->ElementsByTagName("img")[0], "src"), uri);
}

TEST_F(HtmlImageDocumentTest, PageWithoutImagesReportsFalse) {
  HtmlImageDocument doc;
  ASSERT_TRUE(doc.LoadHtml("<p style=\"background:url(data:image/gif;base64,R0lG)\">x</p>"));
  EXPECT_FALSE(doc.ExtractDataImages(folder_));
  EXPECT_TRUE(FilesInFolder().empty());
}

TEST_F(HtmlImageDocumentTest, WebpIsConvertedToPngAndTheWebpFileStays) {
  ASSERT_TRUE(InitializeImaging());
  Magick::Image image(Magick::Geometry(4, 4), Magick::Color("red"));
  image.magick("WEBP");
  image.defineValue("webp", "lossless", "true");
  Magick::Blob blob;
  image.write(&blob);
  std::string webp(static_cast<const char*>(blob.data()), blob.length());
  ASSERT_EQ(webp.substr(0, 4), "RIFF");
  HtmlImageDocument doc;
  ASSERT_TRUE(doc.LoadHtml("<img src=\"data:image/webp;base64," + Base64(webp) + "\">"));
  ASSERT_TRUE(doc.ExtractDataImages(folder_));
  std::string src =
      doc.document()->GetAttribute(doc.document()->ElementsByTagName("img")[0], "src");
  EXPECT_EQ(fs::path(src).extension(), ".png");
  EXPECT_EQ(ReadBytes(src).substr(1, 3), "PNG");
  std::vector<std::string> files = FilesInFolder();
  ASSERT_EQ(files.size(), 2u);
  int webp_files = 0;
  for (const std::string& f : files) webp_files += fs::path(f).extension() == ".webp";
  EXPECT_EQ(webp_files, 1);
}

}  // namespace
