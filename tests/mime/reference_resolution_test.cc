#include "mime/reference_resolution.h"

#include <gtest/gtest.h>

#include "mime/encode_options.h"
#include "mime/resource_embedding.h"
#include "mime/resource_registry.h"

namespace {

TEST(ResolveReference, FollowsReferencesByFileScope) {
  struct Row {
    const char* raw;
    int scope;
    const char* resolved;
    bool is_url;
    bool is_relative;
  } rows[] = {
      {"/home/u/a.png", 0, "/home/u/a.png", false, false},
      {"/home/u/a.png", 1, "/home/u/a.png", false, false},
      {"/home/u/a.png", 2, "", false, false},
      // One leading slash stays: the path is absolute, not relative to the current folder.
      {"file:///home/u/a.png", 0, "/home/u/a.png", false, false},
      {"FILE:///home/u/a.png", 1, "/home/u/a.png", false, false},
      {"file:///C|/dir/a.png", 0, "/C:/dir/a.png", false, false},
      {"url(\"/home/u/a.png\")", 0, "/home/u/a.png", false, false},
      {"url(/x/a.png)", 0, "/x/a.png", false, false},
      {"img/a%20b.png", 0, "img/a%20b.png", false, true},
      {"http://h/a.png", 0, "http://h/a.png", true, false},
      {"https://h/a.png", 2, "https://h/a.png", true, false},
      {"ftp://h/a.png", 0, "", false, false},
      {"ftp://h/a.png", 1, "ftp://h/a.png", true, false},
      {"ftp://h/a.png", 2, "ftp://h/a.png", true, false},
      {"data:image/png;base64,AAAA", 0, "", false, false},
      {"data:image/png;base64,AAAA", 1, "", false, false},
      {"Data:x,y", 2, "", false, false},
      // A "file:" inside a web URL's query leaves the URL alone.
      {"http://h/get?f=file:a.png", 0, "http://h/get?f=file:a.png", true, false},
      {"", 0, "", false, false},
      {"file:///", 0, "/", false, false},
  };
  for (const Row& row : rows) {
    ResolvedReference ref = ResolveReference(row.raw, "", FileScopeOf(row.scope));
    EXPECT_EQ(ref.resolved, row.resolved) << row.raw << " scope " << row.scope;
    EXPECT_EQ(ref.is_url, row.is_url) << row.raw << " scope " << row.scope;
    EXPECT_EQ(ref.is_relative, row.is_relative) << row.raw << " scope " << row.scope;
    EXPECT_EQ(ref.raw, row.raw);
  }
}

TEST(ResolveReference, CombinesRelativePathsWithTheBaseAndDropsTheBaseItself) {
  EXPECT_EQ(ResolveReference("a.png", "http://h/d/", FileScope::kAll).resolved, "http://h/d/a.png");
  EXPECT_TRUE(ResolveReference("a.png", "http://h/d/", FileScope::kAll).is_relative);
  EXPECT_EQ(ResolveReference("HTTP://H/D/", "http://h/d/", FileScope::kAll).resolved, "");
}

TEST(PrefixMatches, ComparesTheBeginningWithoutCase) {
  struct Row {
    const char* prefix;
    const char* text;
    bool match;
  } rows[] = {
      {"http://h/", "HTTP://H/a.png", true},  {"http://h/a.png", "http://h/a.png", true},
      {"", "http://h/a.png", false},          {"http://h/a.png2", "http://h/a.png", false},
      {"http://o/", "http://h/a.png", false},
  };
  for (const Row& row : rows) EXPECT_EQ(PrefixMatches(row.prefix, row.text), row.match);
}

TEST(NameForDownload, DerivesTheWorkspaceNameFromTheUrl) {
  struct Row {
    const char* url;
    const char* name;
    const char* ext;
  } rows[] = {
      {"http://h/img/a.png", "a.png", "png"},
      {"http://h/img/a", "a", "tmp"},
      {"http://h/img/", "", "tmp"},
      {"http://h/get.php?id=3", "get.octet-stream", "octet-stream"},
      {"http://h/get.php?d/pic@x&y=1", "get_pic.octet-stream", "octet-stream"},
      {"http://h/get.php?d/pic&y=1", "get.octet-stream", "octet-stream"},
      {"http://h/a\"b.png", "a\"b.png", "tmp"},
      // The fragment is not fetched, so it never names the file.
      {"http://intranet/admin#.css", "admin", "tmp"},
      {"http://h/a.png#b.css", "a.png", "png"},
      {"http://h/get.php#?d/pic@x&y", "get.php", "php"},
  };
  for (const Row& row : rows) {
    DownloadName name = NameForDownload(row.url);
    EXPECT_EQ(name.name, row.name) << row.url;
    EXPECT_EQ(name.extension, row.ext) << row.url;
  }
}

ResourceEntry Entry(const char* id, const char* location, bool from_url) {
  ResourceEntry e;
  e.content_id = id;
  e.location = location;
  e.local_file = std::string("/w/") + id;
  e.file_name = id;
  e.media_type = from_url ? "" : "image/png";
  e.from_url = from_url;
  return e;
}

TEST(ResourceRegistry, ReusesUrlsWithoutCaseAndLocalPathsExactly) {
  ResourceRegistry registry;
  registry.Add(Entry("A", "http://h/a.png", true));
  registry.Add(Entry("B", "/home/u/Pic.png", false));
  registry.Add(Entry("C", "HTTP://H/A.PNG", true));
  ASSERT_NE(registry.Find("http://H/a.png", true), nullptr);
  EXPECT_EQ(registry.Find("http://H/a.png", true)->content_id, "C");  // the newest
  EXPECT_EQ(registry.Find("/home/u/Pic.png", false)->content_id, "B");
  EXPECT_EQ(registry.Find("/home/u/pic.png", false), nullptr);
  EXPECT_EQ(registry.Find("", false), nullptr);
  EXPECT_EQ(registry.Find("/home/u/Pic.png", true), nullptr);  // a URL is never a local file
  registry.Add(Entry("D", "http://h/%7Eu/a%2fb.png", true));
  ASSERT_NE(registry.Find("http://h/~u/a%2Fb.png", true), nullptr);
  EXPECT_EQ(registry.Find("http://h/~u/a%2Fb.png", true)->content_id, "D");
  EXPECT_EQ(registry.Find("http://h/~u/a/b.png", true), nullptr);  // %2F is no '/'
  // A file put in an entry's place is what the codec reads: bytes read before must not stand in.
  ResourceEntry sheet = Entry("E", "/home/u/s.css", false);
  sheet.bytes = "p { background: url(old.png) }";
  registry.Add(sheet);
  registry.ReplaceFile(registry.entries().size() - 1, "/w/rewritten.css");
  EXPECT_EQ(registry.entries().back().local_file, "/w/rewritten.css");
  EXPECT_TRUE(registry.entries().back().bytes.empty());
}

}  // namespace
