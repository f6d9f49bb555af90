// The clipboard's text scanners: document extraction, the Office test, the VML rewrite, the
// CF_HTML wrapping of offered HTML and file lists.

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "clipboard/clipboard_formats.h"
#include "clipboard/clipboard_reader.h"
#include "imaging/dib_data.h"
#include "imaging/image_utils.h"
#include "support/fake_clipboard.h"
#include "support/generated_png.h"

namespace {

TEST(ExtractHtmlDocumentTest, CutsFromTheOpeningThroughTheClosingTag) {
  struct Row {
    std::string text;
    std::string expected;
  } rows[] = {
      {"Version:0.9\r\nStartHTML:1\r\n<html><body>x</body></html>\r\ntrailer",
       "<html><body>x</body></html>"},
      {"<!DOCTYPE html><!-- c --><HTML><P>y</P></HTML>\0tail", "<HTML><P>y</P></HTML>"},
      {"<html>a</HTML>", "<html>a</HTML>"},
      {"<Html>a</Html>", ""},            // mixed case is not recognised
      {"<div>fragment only</div>", ""},  // no document
      {"</html><html>", ""},             // closing tag first
      {"<html>unclosed", ""},
      {"<html>a</html", "<html>a</html"},  // cut at the text's end, never past it
      {"<html>a</htm", ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ExtractHtmlDocument(row.text), row.expected) << row.text;
  }
}

TEST(IsOfficeHtmlTest, LooksOnlyInsideTheHtmlStartTag) {
  struct Row {
    std::string bytes;
    bool expected;
  } rows[] = {
      {"<html xmlns:o=\"urn:schemas-microsoft-com:office:office\"><body></body></html>", true},
      {"<HTML XMLNS:V=\"URN:SCHEMAS-MICROSOFT-COM:VML\">", true},
      {"<html xmlns:w=\"http://schemas.microsoft.com/office/word/2003\">", true},
      {"<html><meta name=x content=\"urn:schemas-microsoft-com:office\">", false},
      {"no tag schemas-microsoft-com", false},
      {"<html xmlns=\"urn:schemas-microsoft-co", false},  // ends inside the name
      {std::string("<html \0schemas-microsoft-com>", 29), false},
      {"", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsOfficeHtml(row.bytes), row.expected) << row.bytes;
  }
}

// The scans must stop at the data's end even when no 0 byte follows it.
TEST(IsOfficeHtmlTest, NeverReadsPastTheData) {
  const std::string text = "<html xmlns=\"urn:schemas-microsoft-co";
  for (size_t cut = 0; cut <= text.size(); ++cut) {
    std::unique_ptr<char[]> exact(new char[cut]);
    std::copy(text.begin(), text.begin() + cut, exact.get());
    EXPECT_FALSE(IsOfficeHtml(std::string_view(exact.get(), cut)));
    EXPECT_EQ(ExtractHtmlDocument(std::string_view(exact.get(), cut)), "");
  }
}

TEST(ReplaceVmlImagesTest, TurnsImageDataIntoImg) {
  EXPECT_EQ(ReplaceVmlImages("<v:imagedata src=\"a.png\" o:title=\"\"/>"),
            "<img src=\"a.png\" o:title=\"\"/>");
  EXPECT_EQ(ReplaceVmlImages("<v:imagedata src=b.png></v:imagedata><V:IMAGEDATA>"),
            "<img src=b.png></><V:IMAGEDATA>");
}

TEST(MakeCfHtmlTest, WrapsFragmentsAndKeepsDocuments) {
  struct Row {
    std::string offered;
    std::string document;  // after the header
    std::string fragment;
  } rows[] = {
      {"<meta charset='utf-8'><b>bold</b>",
       "<html><body><!--StartFragment--><meta charset='utf-8'><b>bold</b><!--EndFragment-->"
       "</body></html>",
       "<meta charset='utf-8'><b>bold</b>"},
      {"<html><head></head><body><p>p</p></body></html>",
       "<html><head></head><body><p>p</p></body></html>",
       "<html><head></head><body><p>p</p></body></html>"},
      {"<HTML>\r\n<BODY><!--StartFragment-->f<!--EndFragment--></BODY></HTML>",
       "<HTML>\r\n<BODY><!--StartFragment-->f<!--EndFragment--></BODY></HTML>", "f"},
      {"<htmlx>not a tag</htmlx>",
       "<html><body><!--StartFragment--><htmlx>not a tag</htmlx>"
       "<!--EndFragment--></body></html>",
       "<htmlx>not a tag</htmlx>"},
  };
  for (const Row& row : rows) {
    const std::string cf = MakeCfHtml(row.offered);
    ASSERT_EQ(cf.compare(0, 23, "Version:0.9\r\nStartHTML:"), 0) << cf;
    const size_t start_html = std::stoul(cf.substr(cf.find("StartHTML:") + 10, 10));
    const size_t end_html = std::stoul(cf.substr(cf.find("EndHTML:") + 8, 10));
    const size_t start_fragment = std::stoul(cf.substr(cf.find("StartFragment:") + 14, 10));
    const size_t end_fragment = std::stoul(cf.substr(cf.find("EndFragment:") + 12, 10));
    EXPECT_EQ(start_html, 105u);
    EXPECT_EQ(cf.substr(start_html), row.document);
    EXPECT_EQ(end_html, cf.size());
    EXPECT_EQ(cf.substr(start_fragment, end_fragment - start_fragment), row.fragment);
  }
}

TEST(HtmlOfferToUtf8Test, ConvertsUtf16AndKeepsUtf8) {
  struct Row {
    std::string offered;
    std::string expected;
  } rows[] = {
      {std::string("\xFF\xFE<\0b\0>\0\xE9\0", 10), "<b>\xC3\xA9"},
      {std::string("\xFE\xFF\0<\0b\0>\0\xE9", 10), "<b>\xC3\xA9"},
      {std::string("<\0p\0>\0", 6), "<p>"},
      {"<p>caf\xC3\xA9</p>", "<p>caf\xC3\xA9</p>"},
      {"<p>\xFF bad</p>", "<p>\xFF bad</p>"},  // left for the reader's UTF-8 reading
  };
  for (const Row& row : rows) EXPECT_EQ(HtmlOfferToUtf8(row.offered), row.expected);
}

TEST(ParseFileListTest, TakesLocalFileUrisOnly) {
  struct Row {
    std::string list;
    std::vector<std::string> expected;
  } rows[] = {
      {std::string("file:///home/u/A%20b.JPG\r\nfile:///tmp/t.txt\r\n\0", 47),
       {"/home/u/A b.JPG", "/tmp/t.txt"}},
      {"copy\nfile:///x/%C3%A9.png\nfile://localhost/y.bmp", {"/x/\xC3\xA9.png", "/y.bmp"}},
      {"cut\nfile:///a.png", {"/a.png"}},
      {"# comment\r\nhttp://example.invalid/a.png\r\nfile://otherhost/b.png\r\nfile:///c%00.png\r\n"
       "file:///bad%2.png\r\nfile:///a%2Fb.png\r\nfile:///ok%25.png\r\nrelative.png",
       {"/ok%.png"}},
      {"", {}},
  };
  for (const Row& row : rows) EXPECT_EQ(ParseFileList(row.list), row.expected) << row.list;
}

// Each format comes from the first of its platform names that is offered, and an odd owner (one
// that refuses a target it lists, or loses the clipboard after some reads) gives no data
// rather than another copy's.
TEST(ClipboardFormatsTest, FormatsComeFromTheirPlatformNamesAndOddOwnersGiveNothing) {
  ASSERT_TRUE(InitializeImaging());
  const std::string png = generated_png::NoisePng(3, 2, 7);
  using F = ClipboardFormat;
  struct Row {
    std::vector<std::pair<std::string, std::string>> offers;
    std::set<std::string> refused;
    int reads_before_change;
    F format;
    bool available, made;
    std::string data;  // for text formats; "DIB" for a bitmap of the PNG's size
  } rows[] = {
      {{{"text/plain;charset=utf-8", "y"}, {"STRING", "\xE9"}},
       {},
       -1,
       F::kUnicodeText,
       true,
       true,
       "y"},
      {{{"STRING", "\xE9"}}, {}, -1, F::kText, true, true, "\xC3\xA9"},
      {{{"image/x-emf", "E"}}, {}, -1, F::kEnhMetafile, true, true, "E"},
      {{{"x-special/gnome-copied-files", std::string("copy\nfile:///a%20b.png\0", 24)}},
       {},
       -1,
       F::kHdrop,
       true,
       true,
       std::string("/a b.png\0", 9)},
      {{{"image/png", png}}, {}, -1, F::kDib, true, true, "DIB"},
      {{{"image/png", png}}, {"image/png"}, -1, F::kDib, true, false, ""},
      {{{"UTF8_STRING", "x"}}, {"UTF8_STRING"}, -1, F::kUnicodeText, true, false, ""},
      {{{"UTF8_STRING", "x"}, {"text/html", "<b>x</b>"}}, {}, 0, F::kUnicodeText, true, false, ""},
      {{{"image/tiff", "T"}}, {}, -1, F::kBitmap, false, false, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.offers[0].first);
    auto snapshot = std::make_unique<fake_clipboard::FakeSnapshot>(row.offers, row.refused,
                                                                   row.reads_before_change);
    fake_clipboard::FakeSnapshot* fake = snapshot.get();
    ClipboardFormats formats(std::move(snapshot));
    EXPECT_EQ(formats.IsFormatAvailable(row.format), row.available);
    std::string data;
    EXPECT_EQ(formats.GetData(row.format, &data), row.made);
    EXPECT_EQ(formats.GetData(row.format, &data), row.made);  // kept, not read again
    EXPECT_EQ(fake->ReadsOf(row.offers[0].first), row.available ? 1 : 0);
    if (row.data == "DIB") {
      EXPECT_EQ(data.substr(4, 8), std::string("\3\0\0\0\2\0\0\0", 8));
    } else {
      EXPECT_EQ(data, row.data);
    }
  }
}

// A bitmap offered as a BMP file becomes its PNG while its pieces arrive, and its bytes stay for
// the DIB route, which takes the bitmaps the PNG route refuses; it is read once either way.
TEST(ClipboardFormatsTest, ABitmapFileBecomesItsPngWhileItArrives) {
  ASSERT_TRUE(InitializeImaging());
  const auto bmp_file = [](uint32_t width, uint32_t height, uint32_t channels) {
    std::string pixels(size_t{width} * height * channels, '\0'), dib;
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<char>(i * 7 / 5 + i / 9000);
    PackDibRows(pixels, width, height, channels, &dib);
    std::string file = "BM";
    for (size_t v : {14 + dib.size(), size_t{0}, size_t{54}}) {
      for (int shift = 0; shift < 32; shift += 8) file.push_back(static_cast<char>(v >> shift));
    }
    return file + dib;
  };
  struct Row {
    std::string bmp;
    size_t piece;
    bool refused, plain;
  } rows[] = {{bmp_file(1500, 1000, 3), 65536, false, true},  // two bands
              {bmp_file(33, 5, 3), 1, false, true},
              {bmp_file(33, 5, 4), 100, false, false},  // 32 bits: decoded instead
              {bmp_file(33, 5, 3), 100, true, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bmp.size());
    auto snapshot = std::make_unique<fake_clipboard::FakeSnapshot>(
        std::vector<std::pair<std::string, std::string>>{{"image/bmp", row.bmp}},
        row.refused ? std::set<std::string>{"image/bmp"} : std::set<std::string>{});
    snapshot->set_piece_size(row.piece);
    fake_clipboard::FakeSnapshot* fake = snapshot.get();
    ClipboardFormats formats(std::move(snapshot));
    std::string png, expected;
    EXPECT_EQ(formats.GetPlainBitmapAsPng(&png), row.plain);
    EXPECT_TRUE(png == (PngFromPlainBmp(row.bmp, &expected) && row.plain ? expected : ""));
    EXPECT_EQ(formats.Data(ClipboardFormat::kDib) != nullptr, !row.refused);
    EXPECT_EQ(fake->ReadsOf("image/bmp"), 1);
  }
}

}  // namespace
