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

}  // namespace
