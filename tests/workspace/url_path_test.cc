#include "workspace/url_path.h"

#include <gtest/gtest.h>

namespace {

TEST(UrlPath, TellsUrlsFromPaths) {
  struct Row {
    const char* text;
    bool url;
    bool relative;
  } rows[] = {
      {"http://h/a.png", true, true},
      {"file:///home/a.png", true, true},
      {"data:image/png,x", true, true},
      {"c:/dir/a.png", false, true},
      {"/home/a.png", false, false},
      {"img/a.png", false, true},
      {"1http://h", false, true},
      {"a+b-c.d:x", true, true},
      {":x", false, true},
      {"", false, true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsUrl(row.text), row.url) << row.text;
    EXPECT_EQ(IsRelativePath(row.text), row.relative) << row.text;
  }
}

TEST(UrlPath, UnescapesValidEscapesOnly) {
  struct Row {
    const char* in;
    const char* out;
  } rows[] = {
      {"a%20b", "a b"},   {"%ED%95%9C.png", "\xED\x95\x9C.png"},
      {"100%", "100%"},   {"%zz%2", "%zz%2"},
      {"a%00b", "a%00b"}, {"%2541", "%41"},
      {"", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(UnescapeUrl(row.in), row.out) << row.in;
}

TEST(UrlPath, CombinesWithUrlAndPathBases) {
  struct Row {
    const char* base;
    const char* reference;
    const char* out;
  } rows[] = {
      {"http://h/dir/page.html", "img/a.png", "http://h/dir/img/a.png"},
      {"http://h/dir/page.html", "../a.png", "http://h/a.png"},
      {"http://h/dir/", "/a.png", "http://h/a.png"},
      {"http://h/dir/", "https://o/a.png", "https://o/a.png"},
      {"/home/u/page.html", "img/a.png", "/home/u/img/a.png"},
      {"/home/u/page.html", "/srv/a.png", "/srv/a.png"},
      {"/home/u/css/a.css", "./../img/x/../a.png", "/home/u/img/a.png"},
      {"/home/a.css", "../../../a%20b.png", "/a%20b.png"},
      {"/home/u/a.css", "sub/..", "/home/u/"},
      {"", "a.png", "a.png"},
      {"http://h/", "", ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(CombineUrl(row.base, row.reference), row.out) << row.base << " + " << row.reference;
  }
}

}  // namespace
