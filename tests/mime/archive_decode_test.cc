// Archives in the styles real writers use, written out as literal MIME with explicit CRLF,
// unpacked by the codec's decoder: the files it writes and the references it rewrites.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "gmime_setup.h"
#include "mime/decode_into.h"
#include "support/scratch_folder.h"
#include "text/base64.h"

namespace {

using scratch::ReadFile;
using scratch::ScratchFolder;

const char kPngBase64[] =
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAAAMBAQDJ/pLv\r\n"
    "AAAAAElFTkSuQmCC\r\n";

std::map<std::string, std::string> FolderContents(const std::string& folder) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    contents[entry.path().filename().string()] = ReadFile(entry.path().string());
  }
  return contents;
}

struct StyleRow {
  const char* name;
  std::string archive;
  std::string page;                              // noname.htm
  std::map<std::string, std::string> resources;  // every other file
};

class ArchiveDecodeTest : public testing::Test {
 protected:
  void SetUp() override { mimecodec::EnsureGMime(); }
};

TEST_F(ArchiveDecodeTest, ArchivesOfEveryWriterStyle) {
  const std::string png = scratch::TinyPng();
  const StyleRow rows[] = {
      {"browser MHTML: quoted-printable page, locations, a frame by Content-ID",
       "From: <Saved by a browser>\r\n"
       "Snapshot-Content-Location: https://example.test/a/\r\n"
       "MIME-Version: 1.0\r\n"
       "Content-Type: multipart/related;\r\n"
       "\ttype=\"text/html\";\r\n"
       "\tboundary=\"----MultipartBoundary--xyz----\"\r\n"
       "\r\n"
       "------MultipartBoundary--xyz----\r\n"
       "Content-Type: text/html\r\n"
       "Content-ID: <frame-1@mhtml.test>\r\n"
       "Content-Transfer-Encoding: quoted-printable\r\n"
       "Content-Location: https://example.test/a/\r\n"
       "\r\n"
       "<!DOCTYPE html><html><head><style>@import \"css/main.css?x\"; p{background: u=\r\n"
       "rl( 'img/x.png' )} /* url(img/x.png) */</style></head>=\r\n"
       "<body style=3D\"background: url(&quot;bg.png?v=3D2&quot;)\">=\r\n"
       "<img src=3D\"https://example.test/a/img/x.png\"><img src=3D\"img/x.png\">=\r\n"
       "<iframe src=3D\"cid:frame-2@mhtml.test\"></iframe><a href=3D\"other.html\">o</a>=\r\n"
       "</body></html>\r\n"
       "------MultipartBoundary--xyz----\r\n"
       "Content-Type: image/png\r\n"
       "Content-Transfer-Encoding: base64\r\n"
       "Content-Location: https://example.test/a/img/x.png\r\n"
       "\r\n" +
           std::string(kPngBase64) +
           "------MultipartBoundary--xyz----\r\n"
           "Content-Type: image/png\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "Content-Location: https://example.test/a/bg.png?v=2\r\n"
           "\r\n" +
           kPngBase64 +
           "------MultipartBoundary--xyz----\r\n"
           "Content-Type: text/css\r\n"
           "Content-Location: https://example.test/a/css/main.css?x\r\n"
           "\r\n"
           "b{}\r\n"
           "------MultipartBoundary--xyz----\r\n"
           "Content-Type: text/html\r\n"
           "Content-ID: <frame-2@mhtml.test>\r\n"
           "Content-Transfer-Encoding: quoted-printable\r\n"
           "\r\n"
           "<p>frame</p>\r\n"
           "------MultipartBoundary--xyz------\r\n",
       "<!DOCTYPE html><html><head><style>@import \"main.css\"; p{background: url( 'x.png' )} "
       "/* url(img/x.png) */</style></head><body style=\"background: url(bg.png)\">"
       "<img src=\"x.png\"><img src=\"x.png\"><iframe src=\"frame-2@mhtml.test.htm\"></iframe>"
       "<a href=\"other.html\">o</a></body></html>",
       {{"x.png", png},
        {"bg.png", png},
        {"main.css", "b{}"},
        {"frame-2@mhtml.test.htm", "<p>frame</p>"}}},
      {"browser MHTML: sheets that import each other, a frame, escapes spelt two ways",
       "From: <Saved by a browser>\r\n"
       "MIME-Version: 1.0\r\n"
       "Content-Type: multipart/related; type=\"text/html\"; boundary=\"--B--\"\r\n"
       "\r\n"
       "----B--\r\n"
       "Content-Type: text/html\r\n"
       "Content-ID: <frame-A@mhtml.blink>\r\n"
       "Content-Transfer-Encoding: quoted-printable\r\n"
       "\r\n"
       "<link rel=3Dstylesheet href=3D\"https://e.test/d/css/a%2Ecss\"><iframe "
       "src=3D\"cid:frame-B@mhtml.blink\">=\r\n"
       "</iframe>\r\n"
       "----B--\r\n"
       "Content-Type: text/css\r\n"
       "Content-Location: https://e.test/d/css/a.css\r\n"
       "\r\n"
       "@import url(\"sub/b.css\"); body { background: url('../img/p%7e1.png') } /* url(x) */\r\n"
       "----B--\r\n"
       "Content-Type: text/css\r\n"
       "Content-Location: https://e.test/d/css/sub/b.css\r\n"
       "\r\n"
       "@import \"../a.css\"; p { background: url(https://e.test/d/img/p~1.png) } "
       "q { background: url(cid:q%40x) } r { background: url(none.png) }\r\n"
       "----B--\r\n"
       "Content-Type: image/png\r\n"
       "Content-Transfer-Encoding: base64\r\n"
       "Content-Location: https://e.test/d/img/p~1.png\r\n"
       "\r\n" +
           std::string(kPngBase64) +
           "----B--\r\n"
           "Content-Type: image/png\r\n"
           "Content-ID: <q@x>\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "\r\n" +
           kPngBase64 +
           "----B--\r\n"
           "Content-Type: text/html\r\n"
           "Content-ID: <frame-B@mhtml.blink>\r\n"
           "Content-Location: https://e.test/d/f/frame.html\r\n"
           "\r\n"
           "<img src=\"../img/p%7E1.png\"><img src=\"cid:q@x\">\r\n"
           "----B----\r\n",
       "<link rel=stylesheet href=\"a.css\"><iframe src=\"frame.html\"></iframe>",
       {{"a.css", "@import url(\"b.css\"); body { background: url('p~1.png') } /* url(x) */"},
        {"b.css",
         "@import \"a.css\"; p { background: url(p~1.png) } q { background: url(q@x.png) } "
         "r { background: url(none.png) }"},
        {"p~1.png", png},
        {"q@x.png", png},
        {"frame.html", "<img src=\"p~1.png\"><img src=\"q@x.png\">"}}},
      {"office .mht: Korean page, file:/// locations, header charset wins over the meta",
       "MIME-Version: 1.0\r\n"
       "Content-Type: multipart/related; boundary=\"----=_NextPart_01D9\"\r\n"
       "\r\n"
       "This document is a Single File Web Page, also known as a Web Archive file.\r\n"
       "\r\n"
       "------=_NextPart_01D9\r\n"
       "Content-Location: file:///C:/Users/k/Doc.htm\r\n"
       "Content-Transfer-Encoding: quoted-printable\r\n"
       "Content-Type: text/html; charset=\"ks_c_5601-1987\"\r\n"
       "\r\n"
       "<html><head><meta http-equiv=3DContent-Type content=3D\"text/html; charset=3Dutf-8\">=\r\n"
       "</head><body><p>=C7=D1=B1=B9</p><img width=3D10 src=3D\"Doc.files/image001.png\" "
       "v:shapes=\r\n"
       "=3D\"_x0000_i1025\"></body></html>\r\n"
       "\r\n"
       "------=_NextPart_01D9\r\n"
       "Content-Location: file:///C:/Users/k/Doc.files/image001.png\r\n"
       "Content-Transfer-Encoding: base64\r\n"
       "Content-Type: image/png\r\n"
       "\r\n" +
           std::string(kPngBase64) +
           "\r\n"
           "------=_NextPart_01D9\r\n"
           "Content-Location: file:///C:/Users/k/Doc.files/filelist.xml\r\n"
           "Content-Transfer-Encoding: quoted-printable\r\n"
           "Content-Type: text/xml; charset=\"utf-8\"\r\n"
           "\r\n"
           "<xml/>\r\n"
           "------=_NextPart_01D9--\r\n",
       "<html><head><meta http-equiv=Content-Type content=\"text/html; charset=utf-8\">"
       "</head><body><p>\xED\x95\x9C\xEA\xB5\xAD</p><img width=10 src=\"image001.png\" "
       "v:shapes=\"_x0000_i1025\"></body></html>\r\n",
       {{"image001.png", png}, {"filelist.xml", "<xml/>"}}},
      {"office .mht: the VML copy of a picture inside a conditional comment",
       "MIME-Version: 1.0\r\n"
       "Content-Type: multipart/related; boundary=\"----=_NextPart_01DA\"\r\n"
       "\r\n"
       "------=_NextPart_01DA\r\n"
       "Content-Location: file:///C:/Users/k/page.htm\r\n"
       "Content-Transfer-Encoding: quoted-printable\r\n"
       "Content-Type: text/html; charset=\"windows-1252\"\r\n"
       "\r\n"
       "<html xmlns:v=3D\"urn:schemas-microsoft-com:vml\"><body><p><!--[if gte vml 1]><v:shape "
       "=\r\n"
       "id=3D\"Picture_x0020_1\" style=3D'width:9pt'><v:imagedata src=3D\"page_files/image001=\r\n"
       ".png\" o:title=3D\"\"/><v:fill src=3D\"cid:fill@office\" type=3D'tile'/></v:shape><![=\r\n"
       "endif]--><![if !vml]><img width=3D12 src=3D\"page_files/image002.gif\" =\r\n"
       "v:shapes=3D\"Picture_x0020_1\"><![endif]></p><!--[if gte mso 9]><o:x "
       "src=3D\"page_files/=\r\n"
       "image001.png\"><![endif]--><!-- <img src=3D\"page_files/image001.png\"> "
       "--></body></html>\r\n"
       "\r\n"
       "------=_NextPart_01DA\r\n"
       "Content-Location: file:///C:/Users/k/page_files/image001.png\r\n"
       "Content-Transfer-Encoding: base64\r\n"
       "Content-Type: image/png\r\n"
       "\r\n" +
           std::string(kPngBase64) +
           "\r\n"
           "------=_NextPart_01DA\r\n"
           "Content-Location: file:///C:/Users/k/page_files/image002.gif\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "Content-Type: image/gif\r\n"
           "\r\n"
           "R0lGODlhAQABAAAAACw=\r\n"
           "\r\n"
           "------=_NextPart_01DA\r\n"
           "Content-ID: <fill@office>\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "Content-Type: image/png\r\n"
           "\r\n" +
           std::string(kPngBase64) + "------=_NextPart_01DA--\r\n",
       "<html xmlns:v=\"urn:schemas-microsoft-com:vml\"><body><p><!--[if gte vml 1]><v:shape "
       "id=\"Picture_x0020_1\" style='width:9pt'><v:imagedata src=\"image001.png\" "
       "o:title=\"\"/><v:fill src=\"fill@office.png\" type='tile'/></v:shape><![endif]-->"
       "<![if !vml]><img width=12 src=\"image002.gif\" v:shapes=\"Picture_x0020_1\"><![endif]>"
       "</p><!--[if gte mso 9]><o:x src=\"page_files/image001.png\"><![endif]-->"
       "<!-- <img src=\"page_files/image001.png\"> --></body></html>\r\n",
       {{"image001.png", png},
        {"image002.gif", std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00,", 14)},
        {"fill@office.png", png}}},
      {"nested alternative: a plain-text Shift_JIS alternative before the page",
       "Content-Type: multipart/related; boundary=\"r\"\r\n"
       "\r\n"
       "--r\r\n"
       "Content-Type: multipart/alternative; boundary=\"a\"\r\n"
       "\r\n"
       "--a\r\n"
       "Content-Type: text/plain; charset=shift_jis\r\n"
       "Content-Transfer-Encoding: base64\r\n"
       "\r\n"
       "gqA=\r\n"
       "--a\r\n"
       "Content-Type: text/html; charset=shift_jis\r\n"
       "Content-Transfer-Encoding: quoted-printable\r\n"
       "\r\n"
       "<p>=82=A0</p><img src=3D'cid:pic'>\r\n"
       "--a--\r\n"
       "--r\r\n"
       "Content-Type: image/png\r\n"
       "Content-ID: <pic>\r\n"
       "Content-Transfer-Encoding: base64\r\n"
       "\r\n" +
           std::string(kPngBase64) + "--r--\r\n",
       "<p>\xE3\x81\x82</p><img src='pic.png'>",
       {{"pic.png", png}, {"part.txt", "\x82\xA0"}}},
      {"cid: references only, an 8bit windows-1252 page and a named attachment",
       "Content-Type: multipart/related; boundary=b\r\n"
       "\r\n"
       "--b\r\n"
       "Content-Type: text/html; charset=windows-1252\r\n"
       "Content-Transfer-Encoding: 8bit\r\n"
       "\r\n"
       "<p>caf\xE9</p><img src=\"CID:logo@orvo\"><img src=\"cid:nothing@orvo\">\r\n"
       "--b\r\n"
       "Content-Type: application/octet-stream; name=\"logo\"\r\n"
       "Content-Disposition: inline; filename=\"logo.png\"\r\n"
       "Content-ID: <logo@orvo>\r\n"
       "Content-Transfer-Encoding: base64\r\n"
       "\r\n" +
           std::string(kPngBase64) + "--b--\r\n",
       "<p>caf\xC3\xA9</p><img src=\"logo.png\"><img src=\"cid:nothing@orvo\">",
       {{"logo.png", png}}},
      {"framing: a preamble, delimiters with blanks, look-alike lines, no closing delimiter",
       "Content-Type: multipart/related; boundary=\"b\"\r\n\r\npreamble\r\n--b \t\r\n"
       "Content-Type: text/plain\r\nContent-Location: a.txt\r\n\r\n--b--x\r\n--bb\r\n"
       "--b\r\nContent-Type: text/html\r\n\r\n<img src=\"a.txt\">\r\n"
       "--b\r\nContent-Location: tail.txt\r\n\r\nlast\r\n",
       "<img src=\"a.txt\">",
       {{"a.txt", "--b--x\r\n--bb"}, {"tail.txt", "last\r\n"}}},
  };
  for (const StyleRow& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchFolder folder;
    ASSERT_TRUE(DecodeInto(row.archive, folder.path()));
    std::map<std::string, std::string> contents = FolderContents(folder.path());
    // Read a part at a time (as archives of many parts are), the files are the same.
    ScratchFolder batched;
    ASSERT_TRUE(DecodeInto(row.archive, batched.path(), 1));
    EXPECT_EQ(FolderContents(batched.path()), contents);
    // The files handed over as they are written hold what was written; the page is one.
    ScratchFolder handing;
    std::map<std::string, std::string> handed;
    ASSERT_TRUE(DecodeInto(row.archive, handing.path(), 0, &handed));
    for (const auto& [name, bytes] : handed) EXPECT_EQ(bytes, contents[name]) << name;
    EXPECT_EQ(handed.count("noname.htm"), 1u);
    EXPECT_EQ(contents["noname.htm"], row.page);
    contents.erase("noname.htm");
    EXPECT_EQ(contents, row.resources);
  }
}

TEST_F(ArchiveDecodeTest, ArchivesOfThousandsOfPartsKeepEveryPartAndNameAcrossBatches) {
  // More parts than one batch holds, every one named "same.txt": the names stay unique and no
  // part is lost or doubled where one batch ends and the next begins.
  const int kParts = 2500;
  std::string archive = "Content-Type: multipart/related; boundary=b\r\n\r\n";
  for (int k = 0; k < kParts; ++k) {
    archive += "--b\r\nContent-Location: same.txt\r\n\r\n" + std::to_string(k) + "\r\n";
  }
  archive += "--b\r\nContent-Type: text/html\r\n\r\n<img src=\"same.txt\">\r\n--b--\r\n";
  ScratchFolder folder;
  ASSERT_TRUE(DecodeInto(archive, folder.path()));
  std::map<std::string, std::string> contents = FolderContents(folder.path());
  ASSERT_EQ(contents.size(), kParts + 1u);
  EXPECT_EQ(contents["noname.htm"], "<img src=\"same.txt\">");
  EXPECT_EQ(contents["same.txt"], "0");
  EXPECT_EQ(contents["same_1000.txt"], "1000");
  EXPECT_EQ(contents["same_2499.txt"], "2499");
}

// A part's base64 text is named to the caller only where re-encoding its file gives the very
// same characters; every other spelling is decoded alike but never named.
TEST_F(ArchiveDecodeTest, Base64TextIsNamedOnlyWhenSpeltAsOurEncoderSpellsIt) {
  std::string large(200 * 1024, '\0');
  for (size_t k = 0; k < large.size(); ++k) large[k] = static_cast<char>(k * 131 + k / 7);
  std::string lf = Base64Encode(large.substr(0, 300));
  for (size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
  const struct {
    const char* name;
    std::string text;  // the part's body, before "\r\n--b"
    bool named;
  } rows[] = {
      {"one.bin", Base64Encode(std::string(1, 'x')), true},
      {"line.bin", Base64Encode(std::string(57, 'y')), true},
      {"large.bin", Base64Encode(large), true},
      {"last-line-end-before-boundary.bin", "QUJD", true},
      {"short-lines.bin", "QUJD\r\nQUJD\r\n", false},
      {"lf.bin", lf, false},
      {"unused-bits.bin", "QR==\r\n", false},
      {"padding-inside.bin", "QQ==QUJD\r\n", false},
      {"stray.bin", "QU!JD\r\n", false},
  };
  std::string archive =
      "Content-Type: multipart/related; boundary=b\r\n\r\n"
      "--b\r\nContent-Type: text/html\r\n\r\n<p>page</p>\r\n";
  for (const auto& row : rows) {
    archive += std::string("--b\r\nContent-Location: ") + row.name +
               "\r\nContent-Transfer-Encoding: base64\r\n\r\n" + row.text + "\r\n";
  }
  archive +=
      "--b\r\nContent-Location: qp.bin\r\nContent-Transfer-Encoding: quoted-printable\r\n"
      "\r\nQUJD\r\n--b--\r\n";
  ScratchFolder folder;
  std::map<std::string, std::pair<std::string, uint64_t>> placed;
  ASSERT_TRUE(DecodeInto(archive, folder.path(), 0, nullptr, &placed));
  std::map<std::string, std::string> contents = FolderContents(folder.path());
  for (const auto& row : rows) {
    ASSERT_EQ(contents.count(row.name), 1u) << row.name;
    auto found = placed.find(row.name);
    EXPECT_EQ(found != placed.end(), row.named) << row.name;
    if (found == placed.end()) continue;
    EXPECT_EQ(found->second.first, Base64Encode(contents[row.name])) << row.name;
    EXPECT_EQ(found->second.second, contents[row.name].size()) << row.name;
  }
  EXPECT_EQ(placed.count("qp.bin"), 0u);
}

}  // namespace
