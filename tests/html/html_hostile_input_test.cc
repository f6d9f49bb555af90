#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "html/html_document.h"

namespace {

TEST(HtmlHostileInput, MalformedMarkupStillEditsTheRightBytes) {
  struct Row {
    std::string source;
    const char* old_src;
  } rows[] = {
      {"<div><span><p>unclosed <img src=a.png> tail", "a.png"},
      {"</b></div></p><img src=\"x.png\"></i></table>", "\"x.png\""},
      {"<table><tr><td><img src=\"in.png\"</td></tr></table>", "\"in.png\""},
      {"<!--[if gte mso 9]><img src=hidden.png><![endif]--><img src=shown.png>", "shown.png"},
      {"<svg><image href=s.png/></svg><img src=h.png>", "h.png"},
      {"<textarea><img src=no.png></textarea><img src=yes.png>", "yes.png"},
  };
  for (const Row& row : rows) {
    HtmlDocument doc;
    ASSERT_TRUE(doc.Load(row.source)) << row.source;
    std::vector<int> images = doc.ElementsByTagName("img");
    ASSERT_EQ(images.size(), 1u) << row.source;
    ASSERT_TRUE(doc.SetAttribute(images[0], "src", "NEW")) << row.source;
    std::string expected = row.source;
    std::string written = std::string("src=") + row.old_src;
    expected.replace(expected.find(written), written.size(), "src=\"NEW\"");
    std::string inner = doc.BodyInnerHtml();
    EXPECT_NE(expected.find(inner), std::string::npos) << row.source << "\n" << inner;
    EXPECT_NE(inner.find("src=\"NEW\""), std::string::npos) << row.source;
  }
}

TEST(HtmlHostileInput, TagInsideAnUnclosedTagIsAnAttribute) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load("<p <img src=z.png>"));
  EXPECT_TRUE(doc.ElementsByTagName("img").empty());
  EXPECT_EQ(doc.GetAttribute(doc.ElementsByTagName("p")[0], "src"), "z.png");
}

TEST(HtmlHostileInput, MarkupTheParserDropsIsStillWrittenOut) {
  const std::string source = "<select><option>a<img src=o.png></select></div></span><!--z-->";
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load(source));
  EXPECT_TRUE(doc.ElementsByTagName("img").empty());
  EXPECT_EQ(doc.BodyInnerHtml(), source);
}

// The parser builds a whole form for <isindex>, with attributes that are not in the text.
TEST(HtmlHostileInput, ElementsTheParserMakesUpAreReadOnly) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load("<isindex prompt=q><img src=a>"));
  int input = doc.ElementsByTagName("input")[0];
  EXPECT_EQ(doc.GetAttribute(input, "name"), "isindex");
  EXPECT_FALSE(doc.SetAttribute(input, "name", "x"));
  ASSERT_TRUE(doc.SetAttribute(doc.ElementsByTagName("img")[0], "src", "b"));
  EXPECT_EQ(doc.BodyInnerHtml(), "<isindex prompt=q><img src=\"b\">");
}

TEST(HtmlHostileInput, HundredThousandDeepNestingLoadsQuicklyAndKeepsBytes) {
  const int depth = 100000;
  std::string source;
  for (int k = 0; k < depth; ++k) source += "<div>";
  source += "<img src=deep.png>";
  for (int k = 0; k < depth; ++k) source += "</div>";
  source += "<img src=after.png>";
  auto start = std::chrono::steady_clock::now();
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load(source));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 5.0);  // unguarded, the parser needs about half a minute
  std::vector<int> images = doc.ElementsByTagName("img");
  ASSERT_FALSE(images.empty());
  int after = images.back();
  EXPECT_EQ(doc.GetAttribute(after, "src"), "after.png");
  ASSERT_TRUE(doc.SetAttribute(after, "src", "x"));
  std::string expected = source;
  expected.replace(expected.size() - 10, 9, "\"x\"");
  EXPECT_EQ(doc.BodyInnerHtml(), expected);
}

TEST(HtmlHostileInput, DepthLimitReadsDeeperTagsAsTextButKeepsThem) {
  HtmlLoadLimits limits;
  limits.max_depth = 3;
  HtmlDocument doc;
  const std::string source = "<div><div><div><div id=deep><img src=a></div></div></div></div>";
  ASSERT_TRUE(doc.Load(source, limits));
  int deepest = 0;
  for (const HtmlElement& e : doc.elements()) {
    if (e.name == "div") ++deepest;
  }
  EXPECT_EQ(deepest, 3);
  std::vector<int> images = doc.ElementsByTagName("img");
  ASSERT_EQ(images.size(), 1u);
  ASSERT_TRUE(doc.SetAttribute(images[0], "src", "b"));
  EXPECT_EQ(doc.BodyInnerHtml(),
            "<div><div><div><div id=deep><img src=\"b\"></div></div></div></div>");
}

std::string Repeated(const std::string& unit, size_t bytes) {
  std::string text;
  while (text.size() < bytes) text += unit;
  return text;
}

// The budget counts the parser's memory and the tree read from it: a page of bare tags, which
// takes over a hundred times its size, is refused; office markup, which takes about fifteen,
// loads.
TEST(HtmlHostileInput, MemoryBudgetFailsTheLoadInsteadOfGrowing) {
  std::string paragraphs;
  for (int k = 0; k < 20000; ++k) paragraphs += "<p class=c" + std::to_string(k) + ">x";
  const std::string office =
      "<p class=MsoNormal style='margin:0cm'><span lang=EN-US>Lorem ipsum dolor sit amet &amp; "
      "adipiscing elit.<o:p></o:p></span></p>\n<!--[if gte vml 1]><v:imagedata src=\"a.png\"/>"
      "<![endif]--><![if !vml]><img src=\"a.png\"><![endif]>\n";
  struct Row {
    std::string source;
    size_t budget;  // 0: the default
    bool loads;
  } const rows[] = {
      {paragraphs, 0, true},
      {paragraphs, size_t{1} << 20, false},
      {Repeated("<p>", size_t{3} << 20), 0, false},
      {Repeated(office, size_t{4} << 20), 0, true},
  };
  for (const Row& row : rows) {
    HtmlLoadLimits limits;
    limits.memory_budget = row.budget;
    HtmlDocument doc;
    EXPECT_EQ(doc.Load(row.source, limits), row.loads) << row.source.substr(0, 40);
    EXPECT_EQ(doc.loaded(), row.loads);
    EXPECT_EQ(doc.OuterHtml().empty(), !row.loads);
  }
}

// Every paragraph re-opens all 400 formatting elements left open before it: a few hundred
// kilobytes would ask for tens of millions of elements.
TEST(HtmlHostileInput, FormattingElementBombStopsAtTheMemoryBudget) {
  std::string source = "<p>";
  for (int k = 0; k < 400; ++k) source += "<b id=" + std::to_string(k) + ">";
  source += "</p>";
  for (int k = 0; k < 100000; ++k) source += "<p>x</p>";
  auto start = std::chrono::steady_clock::now();
  HtmlDocument doc;
  EXPECT_FALSE(doc.Load(source));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 5.0);
  EXPECT_TRUE(doc.elements().empty());
}

TEST(HtmlHostileInput, RandomBytesNeverBreakLoadOrSerialise) {
  std::mt19937 random(20240607);
  const std::string alphabet = "<>/=\"' abimgsrc!-&;#x\n\0\xff\xc3";
  for (int round = 0; round < 300; ++round) {
    std::string source(1 + random() % 400, ' ');
    for (char& c : source) c = alphabet[random() % alphabet.size()];
    HtmlDocument doc;
    if (!doc.Load(source)) continue;
    for (size_t k = 0; k < doc.elements().size(); ++k) {
      doc.SetAttribute(static_cast<int>(k), "src", "cid:z");
      doc.SetStyleProperty(static_cast<int>(k), "backgroundimage", "url(cid:y)");
    }
    std::string outer = doc.OuterHtml();
    std::string inner = doc.BodyInnerHtml();
    EXPECT_LE(inner.size(), outer.size() + 1) << round;
  }
}

TEST(HtmlHostileInput, FiftyMegabytePageLoadsAndEditsItsLastImage) {
  std::string chunk = "<p class=MsoNormal>Lorem ipsum dolor sit amet &amp; more text here.</p>\n";
  std::string source = "<html><body>";
  source.reserve(50u << 20);
  while (source.size() < (50u << 20)) source += chunk;
  source += "<img src=last.png></body></html>";
  HtmlDocument doc;
  HtmlLoadLimits roomy;  // the page is over the default budget, which keeps a service's peak low
  roomy.memory_budget = size_t{2} << 30;
  ASSERT_TRUE(doc.Load(source, roomy));
  std::vector<int> images = doc.ElementsByTagName("img");
  ASSERT_EQ(images.size(), 1u);
  ASSERT_TRUE(doc.SetAttribute(images[0], "src", "cid:last"));
  std::string outer = doc.OuterHtml();
  std::string expected = "<html><head></head>" + source.substr(6);
  expected.replace(expected.rfind("last.png"), 8, "\"cid:last\"");
  EXPECT_TRUE(outer == expected);  // not EXPECT_EQ: a failure would print 50 MB
}

}  // namespace
