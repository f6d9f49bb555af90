#include "html/html_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The first element named name.
int First(const HtmlDocument& doc, const char* name) {
  std::vector<int> found = doc.ElementsByTagName(name);
  return found.empty() ? -1 : found[0];
}

TEST(HtmlDocumentLoad, RejectsEmptyText) {
  HtmlDocument doc;
  EXPECT_FALSE(doc.Load(""));
  EXPECT_FALSE(doc.loaded());
  EXPECT_EQ(doc.OuterHtml(), "");
  EXPECT_EQ(doc.document_element(), -1);
}

TEST(HtmlDocumentLoad, ReloadDropsEarlierEdits) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load("<p id=a>x</p>"));
  ASSERT_TRUE(doc.SetAttribute(First(doc, "p"), "id", "b"));
  ASSERT_TRUE(doc.Load("<p id=a>y</p>"));
  EXPECT_EQ(doc.GetAttribute(First(doc, "p"), "id"), "a");
  EXPECT_EQ(doc.BodyInnerHtml(), "<p id=a>y</p>");
}

TEST(HtmlDocumentElements, AllCollectionInDocumentOrderWithNamesAsWritten) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load(
      "<HTML><head><LINK rel=stylesheet href=a.css></head><Body>"
      "<v:shape><v:imagedata src=\"x.png\"/></v:shape><IMG src=b.png><o:p></o:p></Body></HTML>"));
  struct Row {
    const char* tag_name;
    const char* name;
    TagId id;
    int parent;
    bool in_body;
  } rows[] = {
      {"HTML", "html", TagId::kHtml, -1, false},
      {"head", "head", TagId::kHead, 0, false},
      {"LINK", "link", TagId::kLink, 1, false},
      {"Body", "body", TagId::kBody, 0, false},
      {"v:shape", "v:shape", TagId::kGeneric, 3, true},
      {"v:imagedata", "v:imagedata", TagId::kGeneric, 4, true},
      // "/>" does not close an unknown element, and the parser lets </v:shape> close the
      // innermost unknown one, so what follows stays inside v:shape.
      {"IMG", "img", TagId::kImg, 4, true},
      {"o:p", "o:p", TagId::kGeneric, 4, true},
  };
  ASSERT_EQ(doc.elements().size(), std::size(rows));
  for (size_t k = 0; k < std::size(rows); ++k) {
    const HtmlElement& e = doc.elements()[k];
    EXPECT_EQ(e.tag_name, rows[k].tag_name) << k;
    EXPECT_EQ(e.name, rows[k].name) << k;
    EXPECT_EQ(e.tag_id, rows[k].id) << k;
    EXPECT_EQ(e.parent, rows[k].parent) << k;
    EXPECT_EQ(e.in_body, rows[k].in_body) << k;
    EXPECT_TRUE(e.has_start_tag) << k;
  }
  EXPECT_EQ(doc.document_element(), 0);
  EXPECT_EQ(doc.head(), 1);
  EXPECT_EQ(doc.body(), 3);
}

TEST(HtmlDocumentElements, ImpliedElementsHaveStandardNamesAndNoStartTag) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load("<table><tr><td>x</td></tr></table>"));
  std::vector<std::string> names;
  for (const HtmlElement& e : doc.elements()) {
    names.push_back(std::string(e.tag_name) + (e.has_start_tag ? "" : "*"));
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{"html*", "head*", "body*", "table", "tbody*", "tr", "td"}));
  EXPECT_FALSE(doc.SetAttribute(First(doc, "tbody"), "id", "x"));
  EXPECT_EQ(doc.elements()[First(doc, "td")].tag_id, TagId::kTd);
}

TEST(HtmlDocumentElements, ElementsByTagNameIgnoresCaseAndFindsImageAlias) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load("<img src=1><IMG src=2><Img src=3><image src=4><imgx src=5>"));
  std::vector<std::string> sources;
  for (int e : doc.ElementsByTagName("IMG")) sources.push_back(doc.GetAttribute(e, "src"));
  EXPECT_EQ(sources, (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_TRUE(doc.ElementsByTagName("base").empty());
}

TEST(HtmlDocumentAttributes, ReadsValuesWithReferencesDecoded) {
  HtmlDocument doc;
  ASSERT_TRUE(
      doc.Load("<img a=\"x&amp;y\" b='it&#39;s' c=plain&lt; d e=\"\" F=\"&quot;q&quot;\" "
               "g=\"&copy&notanentity;\" src=\"a\" SRC=\"dup\">"));
  int img = First(doc, "img");
  struct Row {
    const char* name;
    const char* value;
    bool present;
  } rows[] = {
      {"a", "x&y", true},
      {"b", "it's", true},
      {"c", "plain<", true},
      {"d", "", true},
      {"e", "", true},
      {"f", "\"q\"", true},
      {"g", "\xC2\xA9&notanentity;", true},
      {"src", "a", true},
      {"h", "", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(doc.GetAttribute(img, row.name), row.value) << row.name;
    EXPECT_EQ(doc.HasAttribute(img, row.name), row.present) << row.name;
  }
}

// Every quoting style, entities, comments, odd spacing and letter case: only the edited bytes
// change.
TEST(HtmlDocumentAttributes, EditsKeepEveryUntouchedByte) {
  const std::string source =
      "<!DOCTYPE html>\n<html lang=en>\n<head><!-- a &amp; comment -->\n"
      "<title>T &amp; t</title></head>\n<BODY bgcolor=\"#FFF\"   background='bg.png'>\n"
      "<P class=x>caf&eacute; &#x263A; <IMG SRC = \"a.png\"  alt='it&#39;s' width=10\n"
      "\tborder=0><br/>\n<input type=image src=go.gif checked></P>\n</BODY>\n</html>\n";
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load(source));
  ASSERT_TRUE(doc.SetAttribute(First(doc, "img"), "src", "cid:1&2"));
  ASSERT_TRUE(doc.SetAttribute(First(doc, "body"), "background", "cid:\"3\""));
  ASSERT_TRUE(doc.SetAttribute(First(doc, "input"), "checked", ""));
  EXPECT_EQ(doc.OuterHtml(),
            "<html lang=en>\n<head><!-- a &amp; comment -->\n"
            "<title>T &amp; t</title></head>\n<BODY bgcolor=\"#FFF\"   background='cid:\"3\"'>\n"
            "<P class=x>caf&eacute; &#x263A; <IMG SRC=\"cid:1&amp;2\"  alt='it&#39;s' width=10\n"
            "\tborder=0><br/>\n<input type=image src=go.gif></P>\n</BODY>\n</html>\n");
}

TEST(HtmlDocumentAttributes, ReplacementKeepsSingleQuotesWhenTheValueAllows) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load("<img src='a.png'><img src='b.png'>"));
  std::vector<int> images = doc.ElementsByTagName("img");
  ASSERT_TRUE(doc.SetAttribute(images[0], "src", "c.png"));
  ASSERT_TRUE(doc.SetAttribute(images[1], "src", "it's.png"));
  EXPECT_EQ(doc.BodyInnerHtml(), "<img src='c.png'><img src=\"it's.png\">");
}

TEST(HtmlDocumentAttributes, NewAttributeGoesAfterTheTagName) {
  struct Row {
    const char* source;
    const char* expected;
  } rows[] = {
      {"<img src=a/>", "<img alt=\"n\" src=a/>"},  // an unquoted value keeps its '/'
      {"<img/src=a>", "<img alt=\"n\"/src=a>"},
      {"<img>", "<img alt=\"n\">"},
      {"<IMG\nsrc=a>", "<IMG alt=\"n\"\nsrc=a>"},
  };
  for (const Row& row : rows) {
    HtmlDocument doc;
    ASSERT_TRUE(doc.Load(row.source));
    ASSERT_TRUE(doc.SetAttribute(First(doc, "img"), "alt", "n"));
    EXPECT_EQ(doc.BodyInnerHtml(), row.expected) << row.source;
  }
}

TEST(HtmlDocumentAttributes, EmptyValueRemovesAttributeAndItsLeadingBlanks) {
  struct Row {
    const char* source;
    const char* name;
    const char* expected;
  } rows[] = {
      {"<img src=a alt=b>", "src", "<img alt=b>"},
      {"<img  alt=b\n\tsrc=\"a\">", "src", "<img  alt=b>"},
      {"<input checked type=x>", "checked", "<input type=x>"},
      {"<img alt=b>", "src", "<img alt=b>"},  // absent: nothing to do
  };
  for (const Row& row : rows) {
    HtmlDocument doc;
    ASSERT_TRUE(doc.Load(row.source));
    int e = static_cast<int>(doc.elements().size()) - 1;  // the one element in the body
    ASSERT_TRUE(doc.SetAttribute(e, row.name, ""));
    EXPECT_FALSE(doc.HasAttribute(e, row.name));
    EXPECT_EQ(doc.BodyInnerHtml(), row.expected) << row.source;
  }
}

// A later duplicate is ignored by the parser but would come into force once the first one is
// gone, so a write removes it.
TEST(HtmlDocumentAttributes, WritesRemoveLaterDuplicates) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load("<img src=a.png alt=x SRC='b.png' src=c.png><img src=d src=e>"));
  std::vector<int> images = doc.ElementsByTagName("img");
  ASSERT_TRUE(doc.SetAttribute(images[0], "src", "cid:1"));
  ASSERT_TRUE(doc.SetAttribute(images[1], "src", ""));
  EXPECT_EQ(doc.BodyInnerHtml(), "<img src=\"cid:1\" alt=x><img>");
}

TEST(HtmlDocumentAttributes, ValuelessAttributeTakesAValue) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load("<input CHECKED disabled>"));
  ASSERT_TRUE(doc.SetAttribute(First(doc, "input"), "checked", "yes"));
  EXPECT_EQ(doc.BodyInnerHtml(), "<input CHECKED=\"yes\" disabled>");
}

TEST(HtmlDocumentAttributes, WritesToOneElementCompose) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load("<img src=a lowsrc=l style=\"color:red\">"));
  int img = First(doc, "img");
  ASSERT_TRUE(doc.SetAttribute(img, "src", "one"));
  ASSERT_TRUE(doc.SetAttribute(img, "SRC", "two"));
  ASSERT_TRUE(doc.SetAttribute(img, "lowsrc", ""));
  ASSERT_TRUE(doc.SetAttribute(img, "title", "t"));
  ASSERT_TRUE(doc.SetAttribute(img, "id", "i"));
  ASSERT_TRUE(doc.SetAttribute(img, "id", ""));
  ASSERT_TRUE(doc.SetStyleProperty(img, "backgroundimage", "url(cid:3)"));
  EXPECT_EQ(doc.GetAttribute(img, "src"), "two");
  EXPECT_EQ(doc.GetAttribute(img, "lowsrc"), "");
  EXPECT_EQ(doc.BodyInnerHtml(),
            "<img title=\"t\" src=\"two\" style=\"color:red; background-image: url(cid:3)\">");
}

// A formatting element the parser re-opens is a copy: its start tag belongs to the original,
// so a write through the copy must not land there.
TEST(HtmlDocumentAttributes, ParserCopiesRefuseWrites) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load("<p><b id=1>x<p>y</b>"));
  std::vector<int> bold = doc.ElementsByTagName("b");
  ASSERT_EQ(bold.size(), 2u);
  EXPECT_TRUE(doc.elements()[bold[0]].has_start_tag);
  EXPECT_FALSE(doc.elements()[bold[1]].has_start_tag);
  EXPECT_EQ(doc.GetAttribute(bold[1], "id"), "1");
  EXPECT_FALSE(doc.SetAttribute(bold[1], "id", "2"));
  ASSERT_TRUE(doc.SetAttribute(bold[0], "id", "3"));
  EXPECT_EQ(doc.BodyInnerHtml(), "<p><b id=\"3\">x<p>y</b>");
}

TEST(HtmlDocumentAttributes, FosterParentedElementIsEditedWhereItIsWritten) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load("<table><img src=a.png><tr><td><img src=b.png></td></tr></table>"));
  std::vector<int> images = doc.ElementsByTagName("img");
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(doc.elements()[images[0]].parent, doc.body());  // moved before the table
  ASSERT_TRUE(doc.SetAttribute(images[0], "src", "A"));
  ASSERT_TRUE(doc.SetAttribute(images[1], "src", "B"));
  EXPECT_EQ(doc.BodyInnerHtml(), "<table><img src=\"A\"><tr><td><img src=\"B\"></td></tr></table>");
}

TEST(HtmlDocumentSerialise, WritesImpliedHtmlHeadAndBodyAroundTheBytes) {
  struct Row {
    const char* source;
    const char* outer;
  } rows[] = {
      {"<p>x", "<html><head></head><body><p>x</body></html>"},
      {"<title>t</title><p>x</p>",
       "<html><head><title>t</title></head><body><p>x</p></body></html>"},
      {"<!DOCTYPE html><!--c--><p>x</p><!--z-->",
       "<html><head></head><body><p>x</p><!--z--></body></html>"},
      {"<html><p>x</p></html>", "<html><head></head><body><p>x</p></body></html>"},
      {"<body class=k>x</body>", "<html><head></head><body class=k>x</body></html>"},
      {"<html><head><meta charset=utf-8><body>x",
       "<html><head><meta charset=utf-8></head><body>x</body></html>"},
      {"<html><head></head><body>x</body></html>", "<html><head></head><body>x</body></html>"},
      {"<!-- only a comment -->", "<html><head></head><body></body></html>"},
      {"<title>t</title>", "<html><head><title>t</title></head><body></body></html>"},
      {"</div><isindex><p>x", "<html><head></head><body></div><isindex><p>x</body></html>"},
      {"<!DOCTYPE html>\n<p>x", "<html><head></head><body><p>x</body></html>"},
  };
  for (const Row& row : rows) {
    HtmlDocument doc;
    ASSERT_TRUE(doc.Load(row.source)) << row.source;
    EXPECT_EQ(doc.OuterHtml(), row.outer) << row.source;
  }
}

TEST(HtmlDocumentSerialise, BodyInnerHtmlIsTheBodyContentOnly) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load("<html><head><title>t</title></head><body id=b>\n<p>x</p>\n</body></html>"));
  EXPECT_EQ(doc.BodyInnerHtml(), "\n<p>x</p>\n");
  ASSERT_TRUE(doc.SetAttribute(First(doc, "title"), "id", "t"));  // outside the body
  EXPECT_EQ(doc.BodyInnerHtml(), "\n<p>x</p>\n");
  EXPECT_EQ(doc.OuterHtml(),
            "<html><head><title id=\"t\">t</title></head><body id=b>\n<p>x</p>\n</body></html>");
}

TEST(HtmlDocumentSerialise, ContentAfterTheBodyEndTagIsKept) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load("<html><body><p>a</p></body><p>late</p></html>"));
  EXPECT_EQ(doc.BodyInnerHtml(), "<p>a</p></body><p>late</p>");
  EXPECT_EQ(doc.OuterHtml(), "<html><head></head><body><p>a</p></body><p>late</p></html>");
}

TEST(HtmlDocumentSerialise, FramesetPageHasNoBody) {
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load("<html><frameset><frame src=a.html></frameset></html>"));
  EXPECT_EQ(doc.body(), -1);
  EXPECT_EQ(doc.BodyInnerHtml(), "");
  EXPECT_EQ(doc.OuterHtml(), "<html><head></head><frameset><frame src=a.html></frameset></html>");
}

// Office writes VML inside conditional comments, a fallback img between downlevel-revealed
// markers, o:p paragraphs and mso- styles. The walk sees the img; everything else survives.
TEST(HtmlDocumentOffice, ConditionalCommentsAndVmlSurviveImageEdits) {
  const std::string source =
      "<html xmlns:v=\"urn:schemas-microsoft-com:vml\" "
      "xmlns:o=\"urn:schemas-microsoft-com:office:office\">\n"
      "<head><meta name=Generator content=\"Microsoft Word 15\">\n"
      "<style>\n<!--\n p.MsoNormal {mso-style-parent:\"\"; margin:0cm;}\n-->\n</style>\n"
      "<!--[if gte mso 9]><xml><o:shapedefaults v:ext=\"edit\" "
      "spidmax=\"1026\"/></xml><![endif]-->\n"
      "</head>\n<body lang=EN-US style='tab-interval:36.0pt'>\n"
      "<p class=MsoNormal><!--[if gte vml 1]><v:shape id=\"Picture_x0020_1\" style='width:90pt'>"
      "<v:imagedata src=\"doc_files/image001.png\" o:title=\"\"/></v:shape><![endif]-->"
      "<![if !vml]><img width=120 height=80 src=\"doc_files/image002.jpg\" "
      "v:shapes=\"Picture_x0020_1\">"
      "<![endif]><o:p></o:p></p>\n"
      "<p class=MsoNormal style='mso-margin-top-alt:auto;background:url(\"doc_files/bg.gif\")'>"
      "<span style='font-family:\"Times New Roman\"'>x</span></p>\n</body>\n</html>";
  HtmlDocument doc;
  ASSERT_TRUE(doc.Load(source));
  EXPECT_TRUE(doc.ElementsByTagName("v:imagedata").empty());  // inside a comment
  std::vector<int> images = doc.ElementsByTagName("img");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(doc.GetAttribute(images[0], "v:shapes"), "Picture_x0020_1");
  ASSERT_TRUE(doc.SetAttribute(images[0], "src", "cid:img1"));
  int styled = doc.ElementsByTagName("p")[1];
  EXPECT_EQ(doc.GetStyleProperty(styled, "backgroundimage"), "url(doc_files/bg.gif)");
  ASSERT_TRUE(doc.SetStyleProperty(styled, "backgroundimage", "url(cid:bg)"));
  std::string expected = source;
  expected.replace(expected.find("\"doc_files/image002.jpg\""), 24, "\"cid:img1\"");
  expected.replace(expected.find("url(\"doc_files/bg.gif\")"), 23, "url(cid:bg)");
  EXPECT_EQ(doc.OuterHtml(), expected);
}

}  // namespace

namespace {

// Every element given the same writes through both readings of a page: the tag reading must
// read what the parse reads and splice the writes into the same bytes, including writes that
// add attributes, remove them with their duplicates, and change style blocks.
std::string WrittenThrough(bool by_tags, const std::string& page, bool* read) {
  HtmlDocument doc;
  *read = by_tags ? doc.LoadTags(page) : doc.Load(page);
  if (!*read) return {};
  std::string seen;
  for (size_t k = 0; k < doc.elements().size(); ++k) {
    int e = static_cast<int>(k);
    if (!doc.elements()[k].has_start_tag) continue;
    seen += doc.elements()[k].name + "[" + doc.GetAttribute(e, "src") + "|" +
            doc.GetAttribute(e, "title") + "]";
    doc.SetAttribute(e, "src", doc.HasAttribute(e, "src") ? "n&\"" : "");
    doc.SetAttribute(e, "title", "");
    doc.SetStyleProperty(e, "backgroundimage", "url(x.png)");
  }
  for (size_t b = 0; b < doc.style_blocks().size(); ++b) doc.ReplaceStyleText(b, 0, 1, "#");
  return seen + "\n" + doc.SourceWithEdits();
}

TEST(HtmlDocumentLoadTags, ReadsAndWritesAsTheParseDoesOrDeclines) {
  struct Row {
    bool by_tags;
    const char* page;
  } const rows[] = {
      {true, "<!doctype html><HTML><head><title>a<b src=x></title><style>p{}</style></head>"
             "<body><IMG SRC='a&amp;b' src=c title=t TITLE=u><p/title=\"x>y\" style=color:red>"
             "<image src=i><textarea><img src=z></textarea><!-- <img src=c> -->"},
      {true, "<table><tr><td style=\"background:url(a)\"><img src=a alt=x></td></tr></table>"},
      {true, "<script>if (a</b) w('<img src=q>')</script><img src=r><!----><!-- a -- b -->"
             "<form style=x><input src=i></form><form src=f><a href=h title='x=\"y\"'>"},
      {false, "<form><form src=f>"},
      {false, "<script>x</scripts></script><img src=a>"},
      {false, "<svg><img src=a></svg>"},
      {false, "<p>x<head title=h>"},
      {false, "<img src=a"},
  };
  for (const Row& row : rows) {
    bool by_tags = false;
    bool by_parse = false;
    std::string tags = WrittenThrough(true, row.page, &by_tags);
    std::string parse = WrittenThrough(false, row.page, &by_parse);
    ASSERT_TRUE(by_parse) << row.page;
    EXPECT_EQ(by_tags, row.by_tags) << row.page;
    if (by_tags) EXPECT_EQ(tags, parse) << row.page;
  }
}

}  // namespace

namespace {

// What an encode's walk reads of a page (landmarks, what is in the body) and writes of it.
std::string PageThrough(bool by_tags, const std::string& page, bool* read) {
  HtmlDocument doc;
  if (!(*read = by_tags ? doc.LoadPage(page) : doc.Load(page))) return {};
  std::string seen = std::to_string(doc.body()) + " " + std::to_string(doc.head()) + ":";
  for (size_t k = 0; k < doc.elements().size(); ++k) {
    if (!doc.elements()[k].has_start_tag) continue;
    seen += doc.elements()[k].name + (doc.elements()[k].in_body ? "+" : "-");
    doc.SetAttribute(static_cast<int>(k), "src", "n");
  }
  for (const HtmlComment& comment : doc.comments()) seen += comment.in_body ? "C+" : "C-";
  for (const HtmlStyleBlock& block : doc.style_blocks()) seen += block.in_body ? "S+" : "S-";
  return seen + "\n" + doc.OuterHtml() + "\n" + doc.BodyInnerHtml();
}

TEST(HtmlDocumentLoadPage, PlacesLandmarksAsTheParseDoesOrDeclines) {
  struct Row {
    bool by_tags;
    const char* page;
  } const rows[] = {
      {true, "<html><body>\n<p>a</p><img src=x>\n</body></html>\n"},
      {true, "<!DOCTYPE html>\n<!--c--><HTML lang=en>\n<Head><title>t</title>"
             "<style>p{}</style><!--h--></head>\n<body class=k><!--b--><style>q{}</style>"
             "</body>\n</html>"},
      {true, "<html><title>t</title>\n<!--x-->\n<meta charset=utf-8><body><p>x</p></body></html>"},
      {true, "<html>\n<!--before head-->\n<head><link rel=stylesheet href=a.css></head>\n<body>x"
             "</body></html>  \r\n"},
      {true, "<html><head></head><style>s{}</style><body><table><tr><td><img src=a></td></tr>"
             "</table><object data=o></object></body></html>"},
      {true, "<html><body><p>a<br>b<img src=x></p><p/>c</p><input></body></html>"},
      {false, "<html><body><p>a<p>b</p></body></html>"},
      {false, "<html><body><table><p>moved</p><tr><td><col></td></tr></table></body></html>"},
      {false, "<html><body><div><p>open</body>\n</html>"},
      {false, "<html><body>a</body></html><!--after-->"},
      {false, "<html><body>a</html>"},
      {false, "<body>a</body></html>"},
      {false, "<html><title>t</title></head><body>a</body></html>"},
  };
  for (const Row& row : rows) {
    bool by_tags = false;
    bool by_parse = false;
    std::string tags = PageThrough(true, row.page, &by_tags);
    std::string parse = PageThrough(false, row.page, &by_parse);
    ASSERT_TRUE(by_parse) << row.page;
    EXPECT_EQ(by_tags, row.by_tags) << row.page;
    if (by_tags) {
      EXPECT_EQ(tags, parse) << row.page;
    }
  }
}

}  // namespace
