#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "html/html_document.h"

namespace {

// Loads <div style="..."> with the style text as given (written between double quotes).
struct StyledDiv {
  explicit StyledDiv(const std::string& style) {
    EXPECT_TRUE(doc.Load("<div style=\"" + style + "\">x</div>"));
    div = doc.ElementsByTagName("div")[0];
  }
  HtmlDocument doc;
  int div = -1;
};

TEST(HtmlInlineStyle, ReadsImagePropertiesAsThePlatformReportsThem) {
  struct Row {
    const char* style;
    const char* property;
    const char* expected;
  } rows[] = {
      {"background-image:url(a.png)", "backgroundimage", "url(a.png)"},
      {"background-image: url( 'a b.png' ) ", "backgroundimage", "url(a b.png)"},
      {"BACKGROUND-IMAGE:URL(&quot;a.png&quot;)", "backgroundimage", "url(a.png)"},
      {"background:#fff url(a.png) no-repeat", "backgroundimage", "url(a.png)"},
      {"background:red", "backgroundimage", "none"},
      {"background-image:none", "backgroundimage", "none"},
      {"color:red", "backgroundimage", ""},
      {"background:url(a.png); background-image:url(b.png)", "backgroundimage", "url(b.png)"},
      {"background-image:url(b.png); background:url(a.png)", "backgroundimage", "url(a.png)"},
      {"background-image:url(b.png) !important; background:url(a.png)", "backgroundimage",
       "url(b.png)"},
      {"background:url(data:image/png;base64,iVBO) ", "backgroundimage",
       "url(data:image/png;base64,iVBO)"},
      {"/* background-image:url(c.png) */ color:red", "backgroundimage", ""},
      {"content:'url(x.png)'; background:none", "backgroundimage", "none"},
      {"list-style:square url(dot.gif) inside", "liststyleimage", "url(dot.gif)"},
      {"list-style-image:url(dot.gif)", "list-style-image", "url(dot.gif)"},
      {"list-style:square", "liststyleimage", "none"},
      {"mso-margin-top-alt:auto; margin:0cm", "margin", "0cm"},
      {"font-family:&quot;Times New Roman&quot;", "fontfamily", "\"Times New Roman\""},
  };
  for (const Row& row : rows) {
    StyledDiv d(row.style);
    EXPECT_EQ(d.doc.GetStyleProperty(d.div, row.property), row.expected) << row.style;
  }
}

TEST(HtmlInlineStyle, WritesReplaceTheUrlInForceInPlace) {
  struct Row {
    const char* style;
    const char* property;
    const char* value;
    const char* expected_element;
  } rows[] = {
      {"background:#fff url(a.png) no-repeat", "backgroundimage", "url(cid:1)",
       "<div style=\"background:#fff url(cid:1) no-repeat\">"},
      {"background-image:url( 'a.png' );color:red", "backgroundimage", "url(cid:1)",
       "<div style=\"background-image:url(cid:1);color:red\">"},
      {"color:red", "backgroundimage", "url(cid:1)",
       "<div style=\"color:red; background-image: url(cid:1)\">"},
      {"color:red; ", "backgroundimage", "url(cid:1)",
       "<div style=\"color:red; background-image: url(cid:1)\">"},
      {"background:red", "backgroundimage", "url(cid:1)",
       "<div style=\"background:red; background-image: url(cid:1)\">"},
      {"background-image:none", "backgroundimage", "url(cid:1)",
       "<div style=\"background-image:url(cid:1)\">"},
      {"list-style:square url(a.gif)", "liststyleimage", "url(cid:2)",
       "<div style=\"list-style:square url(cid:2)\">"},
      {"background-image:url(a.png); color:red", "backgroundimage", "",
       "<div style=\"color:red\">"},
      {"background:url(a.png) red", "backgroundimage", "", "<div style=\"background:none red\">"},
      {"background-image:url(a.png)", "backgroundimage", "", "<div>"},
      {"font-family:&quot;Arial&quot;;background:url(a.png)", "backgroundimage", "url(cid:1)",
       "<div style=\"font-family:&quot;Arial&quot;;background:url(cid:1)\">"},
  };
  for (const Row& row : rows) {
    StyledDiv d(row.style);
    ASSERT_TRUE(d.doc.SetStyleProperty(d.div, row.property, row.value)) << row.style;
    EXPECT_EQ(d.doc.BodyInnerHtml(), std::string(row.expected_element) + "x</div>") << row.style;
  }
}

TEST(HtmlInlineStyle, AddsStyleAttributeWhenThereIsNone) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load("<li>x"));
  int li = doc.ElementsByTagName("li")[0];
  ASSERT_TRUE(doc.SetStyleProperty(li, "liststyleimage", "url(cid:9)"));
  EXPECT_EQ(doc.GetStyleProperty(li, "liststyleimage"), "url(cid:9)");
  EXPECT_EQ(doc.BodyInnerHtml(), "<li style=\"list-style-image: url(cid:9)\">x");
}

TEST(HtmlStyleBlocks, ListsImportsWithOwnerAndPlace) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load(
      "<html><head><style type=text/css>\n@import url(\"a.css\");\n@IMPORT 'b.css' screen;\n"
      "/* @import url(no.css); */ p { background: url(x.png) }\n"
      "@media print { @import url(inner.css); }\n@import url(last.css)</style></head>"
      "<body><style>@import url( c.css );</style></body></html>"));
  const std::vector<HtmlStyleBlock>& blocks = doc.style_blocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].element, doc.ElementsByTagName("style")[0]);
  EXPECT_FALSE(blocks[0].in_body);
  EXPECT_TRUE(blocks[1].in_body);
  ASSERT_EQ(blocks[0].imports.size(), 3u);
  EXPECT_EQ(blocks[0].imports[0].url, "a.css");
  EXPECT_EQ(blocks[0].imports[0].prelude, "url(\"a.css\")");
  EXPECT_EQ(blocks[0].imports[1].url, "b.css");
  EXPECT_EQ(blocks[0].imports[1].prelude, "'b.css' screen");
  EXPECT_EQ(blocks[0].imports[2].url, "last.css");
  EXPECT_FALSE(blocks[0].imports[2].terminated);
  EXPECT_TRUE(blocks[0].imports[0].terminated);
  ASSERT_EQ(blocks[1].imports.size(), 1u);
  EXPECT_EQ(blocks[1].imports[0].url, "c.css");
  EXPECT_EQ(blocks[1].text, "@import url( c.css );");
}

TEST(HtmlStyleBlocks, ReplacesImportUrlsInPlaceKeepingTheirForm) {
  HtmlDocument doc;
  ASSERT_TRUE(
      doc.Load("<style>@import url(\"a.css\"); @import 'b.css'; @import url( c.css ) print;</style>"
               "<p>x</p>"));
  ASSERT_TRUE(doc.ReplaceImportUrl(0, 0, "cid:A"));
  ASSERT_TRUE(doc.ReplaceImportUrl(0, 1, "cid:it's"));
  ASSERT_TRUE(doc.ReplaceImportUrl(0, 2, "cid:(C)"));
  EXPECT_FALSE(doc.ReplaceImportUrl(0, 3, "x"));
  EXPECT_FALSE(doc.ReplaceImportUrl(1, 0, "x"));
  EXPECT_EQ(doc.style_blocks()[0].imports[1].url, "cid:it's");
  EXPECT_EQ(doc.OuterHtml(),
            "<html><head><style>@import url(\"cid:A\"); @import 'cid:it\\'s'; "
            "@import url( cid:\\(C\\) ) print;</style></head><body><p>x</p></body></html>");
}

}  // namespace
