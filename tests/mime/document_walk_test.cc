// The document walk over real files and a local HTTP server; this test executable lies beside
// the download library, as the service does.
#include "mime/document_walk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "fetch/test_http_server.h"
#include "html/html_document.h"
#include "imaging/image_utils.h"
#include "mime/encode_options.h"
#include "mime/resource_registry.h"
#include "support/scratch_folder.h"

namespace {

using scratch::ReadFile;
using scratch::ScratchFolder;
using scratch::TinyPng;
using scratch::WriteFile;

class DocumentWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InitializeImaging());
    workspace_ = folder_.Path("ws/");
    ::mkdir(workspace_.c_str(), 0755);
    WriteFile(folder_ / "a.png", TinyPng());
    server_.AddFile("a.png", TinyPng());
    server_.AddFile("s.css", "body { color: red }");
    server_.AddFile("t.css", "p { color: blue }");
  }

  // Walks html with the options and returns the page as the encoder serialises it.
  std::string Walk(const std::string& html, EncodeOptions options = EncodeOptions()) {
    options.workspace = workspace_;
    HtmlDocument doc;
    EXPECT_TRUE(doc.Load(html));
    registry_ = ResourceRegistry();
    EXPECT_TRUE(CollectResources(doc, registry_, "", options));
    return options.range != 0 ? doc.BodyInnerHtml() : doc.OuterHtml();
  }

  static EncodeOptions Options(int scope, const std::string& prefix, int filter = kFilterImages) {
    EncodeOptions options;
    options.file_scope = scope;
    options.include_prefix = prefix;
    options.filter = filter;
    return options;
  }

  std::string Cid(size_t k) const { return "cid:" + registry_.entries().at(k).content_id; }

  ScratchFolder folder_;
  std::string workspace_;
  TestHttpServer server_;
  ResourceRegistry registry_;
};

TEST_F(DocumentWalkTest, AdmitsImageSourcesByScopeAndPrefix) {
  std::string local = folder_ / "a.png";
  std::string web = server_.Url("/files/a.png");
  std::string host = server_.Url("/");
  std::string upper_host = "HTTP://127.0.0.1:" + std::to_string(server_.port()) + "/";
  struct Row {
    std::string src;
    int scope;
    std::string prefix;
    bool embedded;
  } rows[] = {
      {local, 0, "", true},
      {local, 1, "", true},
      {local, 2, host, false},
      {"file://" + local, 0, "", true},
      {web, 0, "", false},
      {web, 0, upper_host, true},
      {web, 0, host + "x", false},
      {web, 1, "", true},
      {web, 2, "", true},
      {"data:image/png;base64,iVBORw0KGgo=", 1, "", false},
      {folder_ / "missing.png", 1, "", false},
  };
  for (const Row& row : rows) {
    std::string page = Walk("<img src=\"" + row.src + "\">", Options(row.scope, row.prefix));
    ASSERT_EQ(registry_.entries().size(), row.embedded ? 1u : 0u) << row.src << " " << row.scope;
    std::string expected = row.embedded ? Cid(0) : row.src;
    EXPECT_EQ(page, "<html><head></head><body><img src=\"" + expected + "\"></body></html>")
        << row.src << " scope " << row.scope;
  }
}

TEST_F(DocumentWalkTest, EmbedsOneDownloadForRepeatedReferencesInAnyLetterCase) {
  std::string web = server_.Url("/files/a.png");
  std::string upper = "HTTP://127.0.0.1:" + std::to_string(server_.port()) + "/files/a.png";
  std::string page = Walk("<img src=\"" + web + "\"><img src=\"" + upper + "\">", Options(1, ""));
  ASSERT_EQ(registry_.entries().size(), 1u);
  EXPECT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(page, "<html><head></head><body><img src=\"" + Cid(0) + "\"><img src=\"" + Cid(0) +
                      "\"></body></html>");
  EXPECT_EQ(ReadFile(registry_.entries()[0].local_file), TinyPng());
  EXPECT_EQ(registry_.entries()[0].media_type, "image/png");
}

TEST_F(DocumentWalkTest, AFailedDownloadIsNotTriedAgainInOneEncode) {
  std::string missing = server_.Url("/files/missing.png");
  std::string img = "<img src=\"" + missing + "\">";
  Walk("<ul><li background=\"" + missing + "\">x</li></ul>" + img + img, Options(1, ""));
  EXPECT_TRUE(registry_.empty());
  EXPECT_EQ(server_.requests().size(), 1u);
}

TEST_F(DocumentWalkTest, KeepsLocalNamesThatDifferInCaseApart) {
  WriteFile(folder_ / "A.png", TinyPng() + "x");
  Walk("<img src=\"" + (folder_ / "a.png") + "\"><img src=\"" + (folder_ / "A.png") + "\">");
  ASSERT_EQ(registry_.entries().size(), 2u);
  EXPECT_EQ(registry_.entries()[1].local_file, folder_ / "A.png");
}

TEST_F(DocumentWalkTest, RenamesAQueryDownloadByItsSignature) {
  std::string url = server_.Url("/files/a.png?size=2");
  Walk("<img src=\"" + url + "\">", Options(1, ""));
  ASSERT_EQ(registry_.entries().size(), 1u);
  const ResourceEntry& entry = registry_.entries()[0];
  EXPECT_EQ(entry.location, url);
  EXPECT_EQ(entry.file_name.substr(entry.file_name.size() - 4), ".png");
  EXPECT_EQ(entry.local_file, workspace_ + entry.file_name);
  EXPECT_EQ(entry.media_type, "image/png");
  EXPECT_EQ(ReadFile(entry.local_file), TinyPng());
}

TEST_F(DocumentWalkTest, LeavesWhatIsNoImageOrCannotBeFetched) {
  WriteFile(folder_ / "text.png", "not a picture at all, only words");
  ::mkdir((folder_ / "folder.png").c_str(), 0755);
  ::mkfifo((folder_ / "pipe.css").c_str(), 0644);
  ::symlink((folder_ / "loop.png").c_str(), (folder_ / "loop.png").c_str());
  std::string refs[] = {folder_ / "text.png",
                        folder_ / "folder.png",
                        folder_ / "pipe.css",
                        folder_ / "loop.png",
                        "/dev/zero",
                        "/dev/null",
                        server_.Url("/status/404"),
                        server_.Url("/loop"),
                        server_.Url("/files/none.png")};
  for (const std::string& ref : refs) {
    std::string page = Walk("<img src=\"" + ref + "\">", Options(1, ""));
    EXPECT_TRUE(registry_.empty()) << ref;
    EXPECT_NE(page.find("src=\"" + ref + "\""), std::string::npos) << ref;
  }
}

TEST_F(DocumentWalkTest, AnchorsAreNeverChanged) {
  std::string html = "<a href=\"" + (folder_ / "a.png") + "\">x</a>";
  EXPECT_EQ(Walk(html, Options(1, "", 0x3F)),
            "<html><head></head><body>" + html + "</body></html>");
  EXPECT_TRUE(registry_.empty());
}

TEST_F(DocumentWalkTest, BackgroundStyleIsRewrittenOnlyWhenAdmittedAndEmbedded) {
  std::string local = folder_ / "a.png";
  // Scope 0 without a prefix: the picture is registered by the primary step but the style is
  // not admitted; scope 1 rewrites it; a picture that cannot be embedded leaves the style as
  // written instead of wrapping it in a second url().
  std::string div = "<div style=\"background-image: url(" + local + ")\">x</div>";
  EXPECT_EQ(Walk(div, Options(0, "")), "<html><head></head><body>" + div + "</body></html>");
  std::string page = Walk(div, Options(1, ""));
  EXPECT_EQ(page, "<html><head></head><body><div style=\"background-image: url(" + Cid(0) +
                      ")\">x</div></body></html>");
  std::string missing =
      "<div style=\"background-image: url(" + (folder_ / "no.png") + ")\">x</div>";
  EXPECT_EQ(Walk(missing, Options(1, "")),
            "<html><head></head><body>" + missing + "</body></html>");
  std::string attribute = "<table background=\"" + local + "\"><tr><td>x</td></tr></table>";
  EXPECT_NE(Walk(attribute).find("background=\"" + Cid(0) + "\""), std::string::npos);
}

TEST_F(DocumentWalkTest, ListItemRulesUseThePrefixEachTheirOwnWay) {
  std::string web = server_.Url("/files/a.png");
  std::string li = "<ul><li background=\"" + (folder_ / "a.png") +
                   "\" style=\"list-style-image: url(" + web + "); background-image: url(" + web +
                   ")\">x</li></ul>";
  // The list-style picture needs the prefix; the background picture is taken only without it.
  std::string with_prefix = Walk(li, Options(0, server_.Url("/")));
  EXPECT_NE(with_prefix.find("list-style-image: url(cid:"), std::string::npos);
  EXPECT_NE(with_prefix.find("background-image: url(" + web + ")"), std::string::npos);
  std::string without = Walk(li, Options(1, ""));
  EXPECT_NE(without.find("list-style-image: url(" + web + ")"), std::string::npos);
  EXPECT_NE(without.find("background-image: url(cid:"), std::string::npos);
}

TEST_F(DocumentWalkTest, LowResolutionSourceFollowsScopeZeroOrThePrefix) {
  std::string local = folder_ / "a.png";
  std::string page = Walk("<img src=\"" + local + "\" lowsrc=\"" + local + "\">");
  EXPECT_NE(page.find("lowsrc=\"" + Cid(0) + "\""), std::string::npos);
  page = Walk("<img src=\"" + local + "\" lowsrc=\"\">");
  EXPECT_EQ(page, "<html><head></head><body><img src=\"" + Cid(0) + "\"></body></html>");
}

TEST_F(DocumentWalkTest, ImportRulesNeedThePrefixAndEndAtARuleWithoutSemicolon) {
  std::string css = server_.Url("/files/s.css");
  std::string style = "<style>@import url(\"" + css + "\"); @import \"" + css + "?2\"</style>";
  std::string page = Walk(style + "<p>x</p>", Options(1, server_.Url("/"), kFilterStyleSheets));
  ASSERT_EQ(registry_.entries().size(), 1u);
  EXPECT_NE(page.find("@import url(\"" + Cid(0) + "\"); @import \"" + css + "?2\""),
            std::string::npos);
  Walk(style, Options(1, "", kFilterStyleSheets));
  EXPECT_TRUE(registry_.empty());
}

TEST_F(DocumentWalkTest, LinkedStyleSheetsNeedThePrefixForWebUrlsAtScopeZero) {
  std::string css = server_.Url("/files/s.css");
  std::string link = "<link rel=\"StyleSheet\" href=\"" + css + "\">";
  EXPECT_EQ(Walk(link, Options(0, "", kFilterStyleSheets)).find("cid:"), std::string::npos);
  std::string page = Walk(link, Options(0, server_.Url("/"), kFilterStyleSheets));
  EXPECT_NE(page.find("href=\"" + Cid(0) + "\""), std::string::npos);
  EXPECT_EQ(ReadFile(registry_.entries()[0].local_file), "body { color: red }");
}

TEST_F(DocumentWalkTest, RangeOneWalksTheBodyOnly) {
  std::string css = server_.Url("/files/s.css");
  std::string html = "<html><head><link rel=stylesheet href=\"" + css + "\"><style>@import \"" +
                     server_.Url("/files/t.css") + "\";</style></head><body><img src=\"" +
                     (folder_ / "a.png") + "\"></body></html>";
  EncodeOptions options = Options(1, server_.Url("/"), 0x3F);
  options.range = 1;
  std::string page = Walk(html, options);
  EXPECT_EQ(page, "<img src=\"" + Cid(0) + "\">");
  EXPECT_EQ(registry_.entries().size(), 1u);
  options.range = 0;
  Walk(html, options);
  EXPECT_EQ(registry_.entries().size(), 3u);
}

TEST_F(DocumentWalkTest, EmbedsVmlPicturesInsideOfficeConditionalComments) {
  std::string local = folder_ / "a.png";
  WriteFile(folder_ / "b.png", TinyPng() + "b");
  std::string html =
      "<body><p><!--[if gte vml 1]><v:shape id=\"i1\" style='width:1pt'><v:imagedata src=\"" +
      local + "\" o:title=\"\"/></v:shape><![endif]--><![if !vml]><img src=\"" +
      (folder_ / "b.png") + "\" v:shapes=\"i1\"><![endif]></p><!--[if gte mso 9]><xml><w:x src=\"" +
      local + "\"/></xml><![endif]--></body>";
  std::string page = Walk(html);
  ASSERT_EQ(registry_.entries().size(), 2u);
  EXPECT_EQ(registry_.entries()[1].local_file, local);
  std::string expected = html;
  expected.replace(expected.find(local), local.size(), Cid(1));
  expected.replace(expected.find(folder_ / "b.png"), (folder_ / "b.png").size(), Cid(0));
  EXPECT_EQ(page, "<html><head></head>" + expected + "</html>");
}

TEST_F(DocumentWalkTest, EmbedsSrcsetCandidatesAndOtherStyleUrls) {
  std::string local = folder_ / "a.png";
  std::string html = "<style>p { background: url('" + local + "') }</style><img srcset=\"" + local +
                     " 1x, " + (folder_ / "none.png") + " 2x\"><span style=\"border-image: url(" +
                     local + ")\">x</span>";
  std::string page = Walk(html);
  ASSERT_EQ(registry_.entries().size(), 1u);
  EXPECT_NE(page.find("url('" + Cid(0) + "')"), std::string::npos);
  EXPECT_NE(page.find("srcset=\"" + Cid(0) + " 1x, " + (folder_ / "none.png") + " 2x\""),
            std::string::npos);
  EXPECT_NE(page.find("border-image: url(" + Cid(0) + ")"), std::string::npos);
}

TEST_F(DocumentWalkTest, AFramesetPageIsLeftAlone) {
  std::string html =
      "<html><frameset><frame src=\"" + (folder_ / "a.png") + "\"></frameset></html>";
  Walk(html, Options(1, "", 0x3F));
  EXPECT_TRUE(registry_.empty());
}

TEST_F(DocumentWalkTest, ScriptsAreCopiedByNameAndKeepTheirSourceUnlessEmbedded) {
  WriteFile(folder_ / "s.js", "var x;");
  std::string html = "<script src=\"" + (folder_ / "s.js") + "\"></script>";
  EXPECT_NE(Walk(html, Options(1, "", kFilterScripts)).find("src=\"" + (folder_ / "s.js")),
            std::string::npos);
  EXPECT_TRUE(registry_.empty());
  EXPECT_EQ(ReadFile(workspace_ + "s.js"), "var x;");
  std::string web = "<script src=\"" + server_.Url("/files/s.css") + "\"></script>";
  std::string page = Walk(web, Options(1, "", kFilterScripts));
  ASSERT_EQ(registry_.entries().size(), 1u);
  EXPECT_NE(page.find("src=\"s.css\""), std::string::npos);
}

}  // namespace
