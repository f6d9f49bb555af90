// A decoded page's references to parts: a page is left unparsed only when none can name a
// part, so every spelling the engine decodes must still be rewritten.
#include "page_references.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PageReferences, EverySpellingOfAPartsNameIsRewrittenAndOtherPagesStayAsTheyAre) {
  mimecodec::PartReferences parts("https://x.test/d/page.htm");
  parts.Add("", "https://x.test/d/a%20b.png", "f1.png");
  parts.Add("<logo@x>", "", "f2.png");
  parts.Add("", "https://x.test/d/pic.gif?v=2", "f3.gif");
  // A reference without a path of its own names a part without holding its name.
  mimecodec::PartReferences beside_the_page("https://x.test/d/page.htm");
  beside_the_page.Add("", "https://x.test/d/page.htm?print", "f4.htm");
  struct Row {
    const char* page;
    const char* expected;  // null: unchanged
    const mimecodec::PartReferences* other_parts = nullptr;
  } const rows[] = {
      {"<img src=\"a b.png\">", "<img src=\"f1.png\">"},
      {"<img src='A%20b.png'><img src=a%20b.png>", "<img src='A%20b.png'><img src=\"f1.png\">"},
      {"<img src=\"a&#32;b.png\">", "<img src=\"f1.png\">"},
      {"<img src=\"cid:logo%40x\"> &amp; &nbsp;", "<img src=\"f2.png\"> &amp; &nbsp;"},
      {"<a href=\"?print\">print</a>", "<a href=\"f4.htm\">print</a>", &beside_the_page},
      {"<!--[if gte vml 1]><v:imagedata src=\"pic.gif&#63;v=2\"/><![endif]-->",
       "<!--[if gte vml 1]><v:imagedata src=\"f3.gif\"/><![endif]-->"},
      {"<p style=\"background: url(pic.gif&quest;v=2)\">", "<p style=\"background: url(f3.gif)\">"},
      {"<img src=\"other.png\"> &lt;a b.png&gt; 100% &amp;", nullptr},
      {"<IMG SRC=\"PIC.GIF?v=2\">", nullptr},
  };
  for (const Row& row : rows) {
    std::string expected = row.expected != nullptr ? row.expected : row.page;
    const mimecodec::PartReferences& named = row.other_parts ? *row.other_parts : parts;
    EXPECT_EQ(mimecodec::RewritePageReferences(row.page, named), expected) << row.page;
  }
}

// The page read by its tags alone must give the very bytes of the whole parse, and pages whose
// reading depends on the tree must be left to the parse.
TEST(PageReferences, ReadingByTagsGivesTheParsesBytesOrDeclines) {
  using namespace std::string_literals;
  mimecodec::PartReferences parts("https://x.test/d/page.htm");
  parts.Add("", "https://x.test/d/a.png", "f1.png");
  parts.Add("<logo@x>", "", "f2.png");
  parts.Add("", "https://x.test/d/b c.gif", "f3.gif");
  struct Row {
    bool by_tags;
    std::string page;
  } const rows[] = {
      {true,
       "<html><head><title><img src=a.png></title><style>p{background:url(a.png)}</style>"
       "<style>@import \"a.png\"; i{list-style:url( 'b c.gif' )}</STYLE ><script>"
       "document.write('<img src=a.png>')</script></head><body><textarea><img src=a.png>"
       "</textarea><!-- <img src=a.png> --><img src=a.png></body></html>"},
      {true,
       "<IMG SRC='a.png' src=\"cid:logo@x\"><img src = a.png alt=\"x>y\"><img/src=a.png/>"
       "<img alt='<img src=a.png>' src=\"a.png\"><img src=a.png Src=b SRC=a.png><img src>"},
      {true,
       "<img src=\"a&period;png\"><img src='cid:logo&#64;x'><a href=\"b&#32;c.gif\">x</a>"
       "<img src=a.png&amp><img src=\"a.png\r\n\"><img src=\"a\0.png\"><embed src=\"\xC3\">"s},
      {true,
       "<!DOCTYPE html><html><body background=a.png style=\"list-style:url(a.png)\"><table>"
       "<tr><td background=a.png style=\"background-image:url('a.png')\"><table><tr>"
       "<th background=a.png></table></td></tr></table><form style=\"background:url(a.png)\">"},
      {true,
       "<body><!--[if gte vml 1]><v:shape><v:imagedata src=\"a.png\" o:href=\"cid:logo@x\"/>"
       "</v:shape><![endif]--><![if !vml]><img src=\"a.png\"><![endif]><o:p></o:p>"
       "<video poster=a.png><source src=a.png></video><object data=a.png></object>"},
      {true, "<li style='list-style:url(a&#46;png)' background=\"b&#32;c.gif\">x<div "
             "style=\"background-image: URL( 'a.png' ) !important; background:none\">"},
      {true, "<title>a</title x><textarea>b</textarea/><img src='cid:logo%40x'><applet code=a.png>"
             "<embed src=a.png><bgsound src=a.png><img lowsrc=a.png src=\"\"><video poster=a.png>"},
      {false, "<img src=a.png><td background=a.png>"},
      {false, "<table><td background=a.png></td><table background=a.png>"},
      {false, "<svg><image href=a.png /><style>p{background:url(a.png)}</style></svg>"},
      {false, "<select><img src=a.png></select>"},
      {false, "<p>x</p><body background=a.png>"},
      {false, "<html src=a.png><head></head><html background=a.png>"},
      {false, "<form style=\"background:url(a.png)\"><form style=\"background:url(a.png)\">"},
      {false, "<script><!--<script></script><img src=a.png>--></script>"},
      {false, "<noscript><img src=a.png></noscript>"},
      {false, "<img src=a.png><img src=\"a.png"},
      {false, "<img src=a.png><style>p{background:url(a.png)}"},
      {false, "<img src=a.png><!-- a --!><img src=a.png>-->"},
      {true, "<img title=x=y src=a.png><img title=\"a='>'\" src='a.png'><p class=a= title=b>"
             "<a href=\"b c.gif\">x</a ><br/><img src=a.png/ >"},
      {false, "<p title=x= \"y>z\"><img src=a.png>"},  // the depth guard ends the tag elsewhere
      {false, "<img src=a.png></p title=\">\"><img src=a.png>"},
      {false, "<img src=a.png></ p><img src=a.png>"},
      {false, "<img src=a.png></><style>p{background:url(a.png)}</style>"},
      {false, "<img src=a.png><style>p{}</styles></style>"},
      {false, [] {
         std::string deep;
         for (int k = 0; k < 600; ++k) deep += "<div>";
         return deep + "<img src=a.png>";
       }()},
  };
  for (const Row& row : rows) {
    using mimecodec::PageReading;
    std::string engine = mimecodec::RewritePageReferences(row.page, parts, {}, PageReading::kEngine);
    bool read = false;
    std::string tags =
        mimecodec::RewritePageReferences(row.page, parts, {}, PageReading::kTagsOnly, &read);
    EXPECT_EQ(read, row.by_tags) << row.page;
    if (read) {
      EXPECT_EQ(tags, engine) << row.page;
    }
    EXPECT_EQ(mimecodec::RewritePageReferences(row.page, parts), engine) << row.page;
    if (row.by_tags) {
      EXPECT_NE(engine, row.page) << "nothing to compare: " << row.page;
    }
  }
}

// References of frames resolve against each frame's own location, whichever was looked up
// before; a base that is no URI resolves nothing, and the next base works again.
TEST(PageReferences, EachReferenceResolvesAgainstItsOwnBase) {
  mimecodec::PartReferences parts("https://x.test/d/page.htm");
  parts.Add("", "https://x.test/d/x.png", "page.png");
  parts.Add("", "https://x.test/f/x.png", "frame.png");
  parts.Add("", "../f/y.png", "relative.png");  // resolved against the page's location
  const struct {
    const char* reference;
    const char* base;
    const char* file;  // null: none
  } rows[] = {
      {"x.png", "", "page.png"},
      {"x.png", "https://x.test/f/frame.htm", "frame.png"},
      {"./x.png", "", "page.png"},
      {"y.png", "https://x.test/f/", "relative.png"},
      {"x.png", "not a uri", nullptr},
      {"../d/x.png", "https://x.test/f/frame.htm", "page.png"},
      {"x.png", "https://x.test/d/", "page.png"},
  };
  for (const auto& row : rows) {
    const std::string* file = parts.Find(row.reference, row.base);
    EXPECT_EQ(file == nullptr ? "(none)" : *file, row.file ? row.file : "(none)")
        << row.reference << " against " << row.base;
  }
}

}  // namespace
