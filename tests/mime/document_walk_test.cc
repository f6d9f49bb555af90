// The document walk over real files and a local HTTP server; this test executable lies beside
// the download library, as the service does.
#include "mime/document_walk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

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

template <typename... Text>
std::vector<std::string> Texts(const Text&... text) {
  return {text...};
}

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
    return options.range == EncodeRange::kBodyOnly ? doc.BodyInnerHtml() : doc.OuterHtml();
  }

  static EncodeOptions Options(int scope, const std::string& prefix, int filter = kFilterImages,
                               int range = 0) {
    EncodeOptions options;
    options.file_scope = FileScopeOf(scope);
    options.include_prefix = prefix;
    options.filter = filter;
    options.range = EncodeRangeOf(range);
    return options;
  }

  static std::string Page(const std::string& body) {
    return "<html><head></head><body>" + body + "</body></html>";
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
    EXPECT_EQ(page, Page("<img src=\"" + expected + "\">")) << row.src << " scope " << row.scope;
  }
}

TEST_F(DocumentWalkTest, EmbedsOneDownloadForRepeatedReferencesInAnyLetterCase) {
  std::string web = server_.Url("/files/a.png");
  std::string upper = "HTTP://127.0.0.1:" + std::to_string(server_.port()) + "/files/a.png";
  std::string page = Walk("<img src=\"" + web + "\"><img src=\"" + upper + "\">", Options(1, ""));
  ASSERT_EQ(registry_.entries().size(), 1u);
  EXPECT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(page, Page("<img src=\"" + Cid(0) + "\"><img src=\"" + Cid(0) + "\">"));
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
  // Each picture's bytes, as judged, go on to the codec.
  EXPECT_EQ(registry_.entries()[0].bytes, TinyPng());
  EXPECT_EQ(registry_.entries()[1].bytes, TinyPng() + "x");
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

TEST_F(DocumentWalkTest, RewritesEachKindOfReferenceOnlyWhenAdmittedAndEmbedded) {
  const std::string local = folder_ / "a.png";
  const std::string none = folder_ / "none.png";
  const std::string web = server_.Url("/files/a.png");
  const std::string host = server_.Url("/");
  const std::string css = server_.Url("/files/s.css");
  const std::string anchor = "<a href=\"" + local + "\">x</a>";
  const std::string div = "<div style=\"background-image: url(" + local + ")\">x</div>";
  const std::string no_div =
      "<div style=\"background-image: url(" + (folder_ / "no.png") + ")\">x</div>";
  const std::string li = "<ul><li background=\"" + local + "\" style=\"list-style-image: url(" +
                         web + "); background-image: url(" + web + ")\">x</li></ul>";
  const std::string imports =
      "<style>@import url(\"" + css + "\"); @import \"" + css + "?2\"</style>";
  const std::string link = "<link rel=\"StyleSheet\" href=\"" + css + "\">";
  const std::string whole = "<html><head><link rel=stylesheet href=\"" + css +
                            "\"><style>@import \"" + server_.Url("/files/t.css") +
                            "\";</style></head><body><img src=\"" + local + "\"></body></html>";
  const std::string styles = "<style>p { background: url('" + local + "') }</style><img srcset=\"" +
                             local + " 1x, " + none + " 2x\"><span style=\"border-image: url(" +
                             local + ")\">x</span>";
  // In page and present, "CID" stands for the first entry's reference.
  struct Row {
    const char* name;
    std::string html;
    EncodeOptions options;
    int entries;       // -1: not asserted
    std::string page;  // the whole page; empty: not asserted
    std::vector<std::string> present, absent;
    std::string first_file;  // bytes of the first entry's file; empty: not asserted
  } const rows[] = {
      {"anchors are never changed", anchor, Options(1, "", 0x3F), 0, Page(anchor)},
      {"a frameset page is left alone",
       "<html><frameset><frame src=\"" + local + "\"></frameset></html>", Options(1, "", 0x3F), 0},
      // Scope 0 without a prefix: the picture is registered by the primary step but the style
      // is not admitted.
      {"background style, scope 0", div, Options(0, ""), -1, Page(div)},
      {"background style, scope 1", div, Options(1, ""), -1,
       Page("<div style=\"background-image: url(CID)\">x</div>")},
      // A picture that cannot be embedded leaves the style as written instead of wrapping it in
      // a second url().
      {"background style, missing picture", no_div, Options(1, ""), -1, Page(no_div)},
      {"background attribute", "<table background=\"" + local + "\"><tr><td>x</td></tr></table>",
       EncodeOptions(), -1, "", Texts("background=\"CID\"")},
      // The list-style picture needs the prefix; the background picture is taken only without it.
      {"list item with the prefix", li, Options(0, host), -1, "",
       Texts("list-style-image: url(cid:", "background-image: url(" + web + ")")},
      {"list item without the prefix", li, Options(1, ""), -1, "",
       Texts("list-style-image: url(" + web + ")", "background-image: url(cid:")},
      {"low resolution source", "<img src=\"" + local + "\" lowsrc=\"" + local + "\">",
       EncodeOptions(), -1, "", Texts("lowsrc=\"CID\"")},
      {"empty low resolution source", "<img src=\"" + local + "\" lowsrc=\"\">", EncodeOptions(),
       -1, Page("<img src=\"CID\">")},
      // Import rules need the prefix; the last one ends without a semicolon.
      {"import rules with the prefix", imports + "<p>x</p>", Options(1, host, kFilterStyleSheets),
       1, "", Texts("@import url(\"CID\"); @import \"" + css + "?2\"")},
      {"import rules without the prefix", imports, Options(1, "", kFilterStyleSheets), 0},
      // Linked style sheets need the prefix for web URLs at scope 0.
      {"linked style sheet without the prefix", link, Options(0, "", kFilterStyleSheets), -1, "",
       Texts(), Texts("cid:")},
      {"linked style sheet with the prefix", link, Options(0, host, kFilterStyleSheets), -1, "",
       Texts("href=\"CID\""), Texts(), "body { color: red }"},
      {"range 1 walks the body only", whole, Options(1, host, 0x3F, 1), 1, "<img src=\"CID\">"},
      {"range 2 walks the body it writes", whole, Options(1, host, 0x3F, 2), 1,
       "<img src=\"CID\">"},
      {"range 0 walks the whole page", whole, Options(1, host, 0x3F), 3},
      {"srcset candidates and other style urls", styles, EncodeOptions(), 1, "",
       Texts("url('CID')", "srcset=\"CID 1x, " + none + " 2x\"", "border-image: url(CID)")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string page = Walk(row.html, row.options);
    if (row.entries >= 0) ASSERT_EQ(registry_.entries().size(), static_cast<size_t>(row.entries));
    auto fill = [this](std::string text) {
      for (size_t at; (at = text.find("CID")) != std::string::npos;) text.replace(at, 3, Cid(0));
      return text;
    };
    if (!row.page.empty()) EXPECT_EQ(page, fill(row.page));
    for (const std::string& text : row.present)
      EXPECT_NE(page.find(fill(text)), std::string::npos) << text;
    for (const std::string& text : row.absent)
      EXPECT_EQ(page.find(text), std::string::npos) << text;
    if (!row.first_file.empty()) {
      EXPECT_EQ(ReadFile(registry_.entries().at(0).local_file), row.first_file);
    }
  }
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

TEST_F(DocumentWalkTest, EmbedsWhatSheetsNameToAnyDepthAfterThePagesOwnResources) {
  // a.css imports "b c.css", which imports a.css back; a web sheet names a picture beside it.
  const std::string a_css = "@import 'sub/b%20c.css'; body { background: url(../b.png) }";
  const std::string b_css = "@import url(\"../a.css\"); p { background: url(" +
                            server_.Url("/files/a.png") + ") } q { background: url(none.png) }";
  std::filesystem::create_directories(folder_ / "css/sub");
  WriteFile(folder_ / "css/a.css", a_css);
  WriteFile(folder_ / "css/sub/b c.css", b_css);
  WriteFile(folder_ / "b.png", TinyPng() + "b");
  server_.AddFile("w.css", "p { background: url('a.png') }");
  std::string html = "<link rel=stylesheet href=\"" + (folder_ / "css/a.css") +
                     "\"><link rel=stylesheet href=\"" + server_.Url("/files/w.css") +
                     "\"><img src=\"" + (folder_ / "a.png") + "\">";
  Walk(html, Options(1, "", kFilterImages | kFilterStyleSheets));
  const auto& e = registry_.entries();
  ASSERT_EQ(e.size(), 6u);
  std::vector<std::string> locations = {folder_ / "css/a.css", server_.Url("/files/w.css"),
                                        folder_ / "a.png",     folder_ / "css/sub/b c.css",
                                        folder_ / "b.png",     server_.Url("/files/a.png")};
  for (size_t k = 0; k < e.size(); ++k) EXPECT_EQ(e[k].location, locations[k]) << k;
  EXPECT_EQ(ReadFile(e[0].local_file),
            "@import '" + Cid(3) + "'; body { background: url(" + Cid(4) + ") }");
  EXPECT_EQ(ReadFile(e[1].local_file), "p { background: url('" + Cid(5) + "') }");
  EXPECT_EQ(ReadFile(e[3].local_file), "@import url(\"" + Cid(0) + "\"); p { background: url(" +
                                           Cid(5) + ") } q { background: url(none.png) }");
  EXPECT_EQ(ReadFile(folder_ / "css/a.css"), a_css);  // the user's own sheets stay as they are
  EXPECT_EQ(ReadFile(folder_ / "css/sub/b c.css"), b_css);

  // Without the image filter a sheet's pictures stay outside; its imports are still followed.
  Walk(html, Options(1, "", kFilterStyleSheets));
  ASSERT_EQ(registry_.entries().size(), 3u);
  EXPECT_EQ(ReadFile(registry_.entries()[0].local_file),
            "@import '" + Cid(2) + "'; body { background: url(../b.png) }");
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

namespace {

TEST_F(DocumentWalkTest, EmbedsADownloadOnlyWhenItsBodyFitsItsKind) {
  server_.AddFile("admin", "<html>secret</html>", "text/html");
  server_.AddFile("page.css", "<html>secret</html>", "text/html");
  server_.AddFile("api.css", "{\"token\": 1}", "application/json");
  server_.AddFile("plain.css", "p { color: red }", "text/plain; charset=utf-8");
  server_.AddFile("shown.png", TinyPng(), "text/html");
  server_.AddFile("riff.png", std::string("RIFF\4\0\0\0WAVEfmt "), "image/png");
  const struct {
    std::string url;
    bool embedded;
  } rows[] = {
      {server_.Url("/files/admin#.css"), false}, {server_.Url("/files/page.css"), false},
      {server_.Url("/files/api.css"), false},    {server_.Url("/files/plain.css"), true},
      {server_.Url("/files/s.css"), true},       {server_.Url("/files/shown.png"), true},
      {server_.Url("/files/riff.png"), false},
  };
  for (const auto& row : rows) {
    Walk("<img src=\"" + row.url + "\">", Options(1, ""));
    EXPECT_EQ(registry_.entries().size(), row.embedded ? 1u : 0u) << row.url;
    // A download that is not embedded is not kept either.
    EXPECT_EQ(scratch::CountEntries(workspace_), row.embedded ? 1 : 0) << row.url;
    std::filesystem::remove_all(workspace_);
    ::mkdir(workspace_.c_str(), 0755);
  }
}

TEST_F(DocumentWalkTest, EmbedsOneLocalFileOnceWhateverItsName) {
  ::mkdir((folder_ / "sub").c_str(), 0755);
  ::symlink((folder_ / "a.png").c_str(), (folder_ / "link.png").c_str());
  std::string names[] = {folder_ / "a.png", folder_.Path("/a.png"), folder_ / "sub/../a.png",
                         folder_ / "link.png"};
  std::string html, expected;
  for (const std::string& name : names) html += "<img src=\"" + name + "\">";
  std::string page = Walk(html);
  ASSERT_EQ(registry_.entries().size(), 1u);
  for (int k = 0; k < 4; ++k) expected += "<img src=\"" + Cid(0) + "\">";
  EXPECT_EQ(page, Page(expected));
}

}  // namespace
