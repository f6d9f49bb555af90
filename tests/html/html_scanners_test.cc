#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "html/css_scan.h"
#include "html/nesting_guard.h"
#include "html/source_edits.h"
#include "html/srcset.h"
#include "html/start_tag_scan.h"

namespace {

TEST(NestingGuard, FindsStartTagsBeyondTheDepth) {
  struct Row {
    std::string html;
    size_t max_depth;
    std::vector<size_t> expected;
  } rows[] = {
      {"<div><div><div>", 2, {10}},
      {"<div></div><div></div><div>", 1, {}},
      {"<p>a<p>b<p>c<p>d", 1, {}},  // each <p> ends the last
      {"<ul><li>a<li>b<li>c</ul>", 2, {}},
      {"<img><br><hr><input><div>", 1, {}},  // void elements open nothing
      {"<div><!-- <div><div> --><div>", 1, {24}},
      {"<div><script><div><div></script><div>", 1, {32}},
      {"<div><STYLE>p>a{}</style><div>", 1, {25}},
      {"<div title='<div>'><div>", 1, {19}},
      {"<html><body><div><span>", 1, {17}},  // html and body are not counted
      {"<b><i><u>", 2, {6}},
      {"<div><plaintext><div><div>", 1, {}},
      {"a < b <3 <", 0, {}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FindOverDeepStartTags(row.html, row.max_depth), row.expected) << row.html;
  }
}

TEST(Srcset, FindsEachCandidateUrl) {
  struct Row {
    std::string value;
    std::vector<std::string> urls;
  } rows[] = {
      {"a.png 1x, b.png 2x", {"a.png", "b.png"}},
      {" a.png ,b.png,, c.png", {"a.png", "b.png", "c.png"}},
      {"a.png,b.png 2x", {"a.png,b.png"}},  // a comma inside a URL is part of it
      {"data:image/png;base64,AAA= 1x, b.png", {"data:image/png;base64,AAA=", "b.png"}},
      {"a.png (max-width: 1px, x) 1x, b.png", {"a.png", "b.png"}},
      {"a.png, ", {"a.png"}},
      {"", {}},
  };
  for (const Row& row : rows) {
    std::vector<std::string> urls;
    for (const SrcsetCandidate& c : SrcsetCandidates(row.value)) {
      urls.push_back(row.value.substr(c.begin, c.end - c.begin));
    }
    EXPECT_EQ(urls, row.urls) << row.value;
  }
}

TEST(StartTagScan, ReadsAttributesAsTheTokenizerDoes) {
  struct Row {
    std::string tag;
    std::vector<std::string> names_and_text;  // name, then the bytes of the attribute
  } rows[] = {
      {"<img src=a.png>", {"src", "src=a.png"}},
      {"<img SRC = \"a b\"  alt>", {"src", "SRC = \"a b\"", "alt", "alt"}},
      {"<img src=a/>", {"src", "src=a/"}},
      {"<img/src='x'/alt=y>", {"src", "src='x'", "alt", "alt=y"}},
      {"<a =x b>", {"=x", "=x", "b", "b"}},
      {"<img src=\"unclosed>", {"src", "src=\"unclosed>"}},
  };
  for (const Row& row : rows) {
    std::vector<std::string> got;
    for (const ScannedAttribute& a : ScanStartTagAttributes(row.tag)) {
      got.push_back(a.name);
      got.push_back(row.tag.substr(a.begin, a.end - a.begin));
    }
    EXPECT_EQ(got, row.names_and_text) << row.tag;
  }
  EXPECT_EQ(StartTagNameLength("<v:imagedata src=x>"), 11u);
  EXPECT_EQ(StartTagNameLength("<br/>"), 2u);
}

TEST(CssScan, SplitsDeclarationsOutsideStringsCommentsAndBrackets) {
  const std::string css =
      "color : red ; background:url(data:a;b) !IMPORTANT;content:'a;b';/*x:y;*/ font:x;;novalue";
  std::vector<CssDeclaration> got = ParseCssDeclarations(css);
  ASSERT_EQ(got.size(), 4u);
  std::vector<std::string> values;
  for (const CssDeclaration& d : got) {
    values.push_back(d.name + "=" + css.substr(d.value_begin, d.value_end - d.value_begin) +
                     (d.important ? "!" : ""));
  }
  EXPECT_EQ(values, (std::vector<std::string>{"color=red", "background=url(data:a;b)!",
                                              "content='a;b'", "font=x"}));
}

TEST(CssScan, FindsUrlFunctionsButNotLookalikes) {
  struct Row {
    std::string css;
    bool found;
    std::string value;
    std::string token;
  } rows[] = {
      {"url(a.png)", true, "a.png", "url(a.png)"},
      {"x URL( \"a b.png\" ) y", true, "a b.png", "URL( \"a b.png\" )"},
      {"url('it\\'s')", true, "it\\'s", "url('it\\'s')"},
      {"myurl(a.png)", false, "", ""},
      {"'url(a.png)'", false, "", ""},
      {"/* url(a.png) */", false, "", ""},
      {"url(a.png", false, "", ""},
  };
  for (const Row& row : rows) {
    CssUrl url;
    ASSERT_EQ(FindCssUrl(row.css, 0, row.css.size(), &url), row.found) << row.css;
    if (!row.found) continue;
    EXPECT_EQ(url.value, row.value) << row.css;
    EXPECT_EQ(row.css.substr(url.begin, url.end - url.begin), row.token) << row.css;
  }
}

TEST(CssScan, EscapesUrlsForTheirForm) {
  EXPECT_EQ(EscapeCssUrl("a b(c).png", 0), "a\\ b\\(c\\).png");
  EXPECT_EQ(EscapeCssUrl("it's \"x\"", '\''), "it\\'s \"x\"");
  EXPECT_EQ(EscapeCssUrl("a\\b\nc", '"'), "a\\\\b\\a c");
}

TEST(SourceEdits, AppliesSortedEditsInsideTheRangeOnly) {
  std::vector<SourceEdit> edits = {{6, 3, "XYZ"}, {0, 0, "<"},       {0, 1, "A"},
                                   {0, 0, ">"},   {4, 4, "overlap"}, {12, 0, "!"}};
  EXPECT_FALSE(SortSourceEdits(edits));  // {6,3} overlaps {4,4}, which comes first: dropped
  ASSERT_EQ(edits.size(), 5u);
  const std::string text = "abcdefghijkl";
  EXPECT_EQ(ApplySourceEdits(text, 0, text.size(), edits), "<>Abcdoverlapijkl!");
  EXPECT_EQ(ApplySourceEdits(text, 2, 8, edits), "cdoverlap");
  EXPECT_EQ(ApplySourceEdits(text, 5, 12, edits), "fghijkl!");  // {4,4} straddles the start
  EXPECT_EQ(ApplySourceEdits(text, 0, 7, edits), "<>Abcdefg");  // and here the end
}

}  // namespace
