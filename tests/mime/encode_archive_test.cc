// The encode operation with the real codec component (and a stand-in that fails), over local
// files and a local HTTP server: what goes in comes back out of a decode byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <string>

#include "fetch/test_http_server.h"
#include "html/html_document.h"
#include "imaging/image_utils.h"
#include "mime/encode_options.h"
#include "mime/mime_codec_client.h"
#include "mime/mime_encode_command.h"
#include "support/scratch_folder.h"

namespace {

using scratch::ReadFile;
using scratch::ScratchFolder;
using scratch::TinyPng;
using scratch::WriteFile;

const char kDist[] = MIME_TEST_DIST_DIR;
// A stand-in component that fails the encode of the page "fail".
const std::string kFailingCodec = std::string(MIME_TEST_FAKE_ROOT) + "recording/";

// Every file of a folder by name.
std::map<std::string, std::string> FilesIn(const std::string& folder) {
  std::map<std::string, std::string> out;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    out[entry.path().filename().string()] = ReadFile(entry.path().string());
  }
  return out;
}

class EncodeArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InitializeImaging());
    options_.workspace = folder_.Path("ws/");
    ::mkdir(options_.workspace.c_str(), 0755);
    ::mkdir(folder_.Path("out").c_str(), 0755);
  }

  // Decodes archive with the real component into out/ and returns its files.
  std::map<std::string, std::string> Decode(const std::string& archive) {
    EXPECT_TRUE(MimeCodecClient(kDist).Decode(archive, folder_.Path("out/")));
    return FilesIn(folder_.Path("out"));
  }

  ScratchFolder folder_;
  EncodeOptions options_;
};

TEST_F(EncodeArchiveTest, RoundTripKeepsEveryResourceByteForByte) {
  TestHttpServer server;
  std::string web_png = TinyPng() + std::string("web tail");
  server.AddFile("w.png", web_png);
  server.AddFile("s.css", "p { color: red }\n");
  std::string pictures[] = {TinyPng(), TinyPng() + "b", TinyPng() + std::string("\0c\r\n", 4)};
  std::string page =
      "<html><head><link rel=stylesheet href=\"" + server.Url("/files/s.css") + "\"></head><body>";
  for (int k = 0; k < 3; ++k) {
    std::string path = folder_.Path("p" + std::to_string(k) + ".png");
    WriteFile(path, pictures[k]);
    page += "<img src=\"" + path + "\">";
  }
  page += "<img src=\"" + server.Url("/files/w.png") + "\">\xED\x95\x9C</body></html>";
  options_.file_scope = FileScope::kAll;
  options_.filter = kFilterImages | kFilterStyleSheets;
  int32_t error = -1;
  std::string archive(EncodeMimeArchive(MimeCodecClient(kDist), options_, page, error).view());
  ASSERT_EQ(error, 0);
  EXPECT_FALSE(scratch::Exists(options_.workspace));  // removed after success
  std::map<std::string, std::string> files = Decode(archive);
  ASSERT_EQ(files.size(), 6u);
  std::multiset<std::string> contents;
  for (const auto& [name, bytes] : files) {
    if (name != "noname.htm") contents.insert(bytes);
  }
  EXPECT_EQ(contents, (std::multiset<std::string>{pictures[0], pictures[1], pictures[2], web_png,
                                                  "p { color: red }\n"}));
  const std::string& decoded = files["noname.htm"];
  EXPECT_EQ(decoded.find(folder_.path()), std::string::npos) << decoded;
  EXPECT_EQ(decoded.find("127.0.0.1"), std::string::npos) << decoded;
  EXPECT_NE(decoded.find("\xED\x95\x9C</body></html>"), std::string::npos);
}

// Pictures past the kept bytes are read again by the codec, between pictures that are kept.
TEST_F(EncodeArchiveTest, PicturesPastTheKeptBytesComeBackByteForByte) {
  const size_t kMiB = size_t{1} << 20;
  const size_t sizes[] = {7 * kMiB, 6 * kMiB, 5 * kMiB, 3 * kMiB, 100, 7 * kMiB};
  std::multiset<std::string> pictures;
  std::string page = "<html><body>\n";
  for (size_t k = 0; k < std::size(sizes); ++k) {
    std::string picture = TinyPng() + std::string(sizes[k], static_cast<char>('a' + k));
    std::string path = folder_.Path("big" + std::to_string(k) + ".png");
    WriteFile(path, picture);
    pictures.insert(std::move(picture));
    page += "<p>" + std::to_string(k) + "</p><img src=\"" + path + "\">\n";
  }
  page += "</body></html>\n";
  int32_t error = -1;
  std::string archive(EncodeMimeArchive(MimeCodecClient(kDist), options_, page, error).view());
  ASSERT_EQ(error, 0);
  std::map<std::string, std::string> files = Decode(archive);
  files.erase("noname.htm");
  std::multiset<std::string> contents;
  for (const auto& file : files) contents.insert(file.second);
  EXPECT_TRUE(contents == pictures);
}

TEST_F(EncodeArchiveTest, SerialisesTheBodyForAnyNonZeroRange) {
  const std::string page = "<html><head><title>t</title></head><body><p>x</p></body></html>";
  struct Row {
    int range;
    std::string page;
  } rows[] = {{0, page}, {1, "<p>x</p>"}, {2, "<p>x</p>"}};
  for (const Row& row : rows) {
    options_.range = EncodeRangeOf(row.range);
    ::mkdir(options_.workspace.c_str(), 0755);
    int32_t error = -1;
    std::string archive(EncodeMimeArchive(MimeCodecClient(kDist), options_, page, error).view());
    ASSERT_EQ(error, 0);
    std::filesystem::remove_all(folder_.Path("out"));
    ::mkdir(folder_.Path("out").c_str(), 0755);
    EXPECT_EQ(Decode(archive)["noname.htm"], row.page) << row.range;
  }
}

TEST_F(EncodeArchiveTest, FailuresGiveTheirNumberAndKeepTheWorkspace) {
  std::string picture = folder_.Path("a.png");
  WriteFile(picture, TinyPng());
  std::string page = "<img src=\"" + picture + "\">";
  ScratchFolder no_codec;
  struct Row {
    std::string page;
    std::string codec_folder;
    int32_t error;
  } rows[] = {
      {"", kDist, 2},
      // A page over the engine's limit is refused unparsed (its tree would take gigabytes).
      {std::string(HtmlLoadLimits().max_bytes + 1, 'p'), kDist, 2},
      {page, no_codec.path() + "/", 1},
      {"<body>fail</body>", kFailingCodec, 3},
  };
  options_.range = EncodeRange::kBodyOnly;  // the stand-in sees the body's inner HTML
  for (const Row& row : rows) {
    int32_t error = -1;
    WriteFile(options_.workspace + "kept", "x");
    EXPECT_EQ(
        EncodeMimeArchive(MimeCodecClient(row.codec_folder), options_, row.page, error).view(), "");
    EXPECT_EQ(error, row.error);
    EXPECT_TRUE(scratch::Exists(options_.workspace + "kept")) << row.error;
  }
}

}  // namespace
