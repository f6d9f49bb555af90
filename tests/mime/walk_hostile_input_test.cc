// Pages that try the walk's limits: thousands of pictures, references that point out of the
// workspace, servers that never answer. Each gives a page back in bounded time and writes
// nothing outside the workspace.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>

#include "fetch/test_http_server.h"
#include "html/html_document.h"
#include "imaging/image_utils.h"
#include "mime/document_walk.h"
#include "mime/encode_options.h"
#include "mime/mime_codec_client.h"
#include "mime/mime_encode_command.h"
#include "mime/resource_registry.h"
#include "support/scratch_folder.h"

namespace {

using scratch::ScratchFolder;
using scratch::WriteFile;

class WalkHostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InitializeImaging());
    ::mkdir(folder_.Path("ws").c_str(), 0755);
    options_.workspace = folder_.Path("ws/");
  }
  std::string Walk(const std::string& html) {
    HtmlDocument doc;
    EXPECT_TRUE(doc.Load(html));
    registry_ = ResourceRegistry();
    CollectResources(doc, registry_, "", options_);
    return doc.BodyInnerHtml();
  }
  ScratchFolder folder_;
  EncodeOptions options_;
  ResourceRegistry registry_;
};

TEST_F(WalkHostileInputTest, TenThousandPicturesOfWhichHalfAreMissing) {
  std::string html;
  for (int k = 0; k < 10000; ++k) {
    std::string path = folder_.Path("p" + std::to_string(k) + ".png");
    if (k % 2 == 0) WriteFile(path, scratch::TinyPng());
    html += "<img src=\"" + path + "\">";
  }
  std::string page = Walk(html);
  EXPECT_EQ(registry_.entries().size(), 5000u);
  EXPECT_NE(page.find("<img src=\"" + folder_.Path("p9999.png") + "\">"), std::string::npos);
  EXPECT_EQ(page.find(folder_.Path("p9998.png")), std::string::npos);
}

TEST_F(WalkHostileInputTest, NothingIsWrittenOutsideTheWorkspace) {
  ::mkdir(folder_.Path("sub").c_str(), 0755);
  WriteFile(folder_.Path("s.js"), "var s;");
  WriteFile(folder_.Path("a.png"), scratch::TinyPng());
  TestHttpServer server;
  server.AddFile("..", "dots");
  server.AddFile("x.js", "var x;");
  options_.file_scope = FileScope::kAll;
  options_.filter = 0x3F;
  std::string refs[] = {folder_.Path("sub/../s.js"),
                        "file://" + folder_.Path("sub/../a.png"),
                        server.Url("/files/.."),
                        server.Url("/files/x.js?p=../../y/.."),
                        server.Url("/files/x.js?p=a/../../.."),
                        server.Url("/files/")};
  std::string html;
  for (const std::string& ref : refs) {
    html += "<script src=\"" + ref + "\"></script><img src=\"" + ref + "\">";
  }
  Walk(html);
  EXPECT_EQ(scratch::CountEntries(folder_.path()), 4);  // ws, sub, s.js, a.png
  EXPECT_EQ(scratch::CountEntries(folder_.Path("sub")), 0);
  EXPECT_EQ(scratch::ReadFile(folder_.Path("ws/s.js")), "var s;");
  ASSERT_EQ(registry_.entries().size(), 1u);  // only the picture is embedded
  EXPECT_EQ(registry_.entries()[0].location, folder_.Path("sub/../a.png"));
}

TEST_F(WalkHostileInputTest, ABaseElementRedirectsRelativeReferencesOnly) {
  WriteFile(folder_.Path("a.png"), scratch::TinyPng());
  std::string page = Walk("<base href=\"" + folder_.Path("") +
                          "\"><img src=\"a.png\"><img src=\"../../../etc/passwd\">");
  ASSERT_EQ(registry_.entries().size(), 1u);
  EXPECT_EQ(registry_.entries()[0].local_file, folder_.Path("a.png"));
  EXPECT_NE(page.find("<img src=\"../../../etc/passwd\">"), std::string::npos);
}

TEST_F(WalkHostileInputTest, AServerThatNeverAnswersCostsOneTimeLimit) {
  SilentServer silent;
  options_.file_scope = FileScope::kAll;
  std::string img = "<img src=\"" + silent.Url("/a.png") + "\">";
  auto start = std::chrono::steady_clock::now();
  std::string page = Walk(img + img + img);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
  EXPECT_EQ(page, img + img + img);
}

// As large a page of text as the engine's memory budget takes (one of 50 MB is refused).
TEST_F(WalkHostileInputTest, AFortyMegabytePageIsArchived) {
  WriteFile(folder_.Path("a.png"), scratch::TinyPng());
  std::string page = "<html><body><img src=\"" + folder_.Path("a.png") + "\">";
  const std::string paragraph = "<p class=x>" + std::string(200, 'w') + "</p>\n";
  while (page.size() < (40u << 20)) page += paragraph;
  int32_t error = -1;
  std::string archive(EncodeMimeArchive(MimeCodecClient(MIME_TEST_DIST_DIR), options_,
                                        page + "</body></html>", error)
                          .view());
  EXPECT_EQ(error, 0);
  EXPECT_GT(archive.size(), page.size());
  EXPECT_FALSE(scratch::Exists(options_.workspace));
}

}  // namespace
