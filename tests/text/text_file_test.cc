#include "text/text_file.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include "support/scratch_folder.h"
#include "text/charset_table.h"
#include "text/code_page.h"
#include "text/text_conversion.h"

namespace {

// text (UTF-8) in the named encoding, made with iconv so that the samples are real legacy bytes.
std::string Encode(const char* charset, const std::string& text) {
  iconv_t converter = iconv_open(charset, "UTF-8");
  EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1)) << charset;
  std::string out(text.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(text.data());
  size_t in_left = text.size();
  char* dest = out.data();
  size_t out_left = out.size();
  EXPECT_NE(iconv(converter, &in, &in_left, &dest, &out_left), static_cast<size_t>(-1));
  iconv(converter, nullptr, nullptr, &dest, &out_left);
  iconv_close(converter);
  out.resize(out.size() - out_left);
  return out;
}

std::string HtmlDeclaring(const std::string& charset, const std::string& body) {
  return "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=" + charset +
         "\"></head><body>" + body + "</body></html>";
}

// Runs with a fixed starting code page, as on a host whose ANSI code page is 1252.
class TextDecodingTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("ORVO_ANSI_CODEPAGE", "1252", 1); }
  void TearDown() override { ::unsetenv("ORVO_ANSI_CODEPAGE"); }
  std::string Decode(const std::string& bytes) {
    std::string text;
    EXPECT_TRUE(DecodeTextBytes(bytes, text));
    return text;
  }
};

TEST(LooksLikeUtf8Test, Table) {
  struct Row {
    std::string bytes;
    bool utf8;
  } const rows[] = {
      {"", false},
      {"plain ascii\r\n\t\x07\x08\x0C\x1B", false},
      {"caf\xC3\xA9", true},
      {"\xED\x95\x9C\xEA\xB8\x80", true},
      {"\xF0\x9F\x98\x80", true},
      {"\xF8\x88\x80\x80\x80", true},      // five-byte form is accepted
      {"\xFC\x84\x80\x80\x80\x80", true},  // and six
      {"caf\xC3\xA9\x01", false},          // control byte
      {"\x7F\xC3\xA9", false},
      {"\x0B\xC3\xA9", false},
      {"\x80", false},  // continuation without lead
      {"\xC3\xA9\xFE", false},
      {"\xC3\x41", false},         // sequence broken by ASCII
      {"\xC3\xA9\xE2\x82", true},  // data ends inside a sequence: result so far
      {"\xE2\x82", false},
      {std::string("\xC3\xA9\0\x01", 4), true},  // stops at the first 0
      {"\xB0\xA1\xB0\xA2", false},               // EUC-KR bytes
      // Long runs of printable ASCII are passed eight bytes at a time; what follows or breaks
      // a run must still be seen wherever it stands.
      {"a page of plain ascii text\r\n", false},
      {"a page of plain text, then caf\xC3\xA9", true},
      {"0123456789abcdef\xC3\xA9 and more plain text", true},
      {"0123456\x01 and caf\xC3\xA9", false},
      {"0123456789abcde\x7F caf\xC3\xA9", false},
      {"01234567~~~~~~~~\xC3\xA9", true},
      {"0123456789abcdef\xFF", false},
  };
  for (const Row& row : rows) EXPECT_EQ(LooksLikeUtf8(row.bytes), row.utf8) << row.bytes;
}

TEST(SniffHtmlCharsetTest, Table) {
  const std::string long_value(5000, 'x');
  struct Row {
    std::string text;
    bool found;
    int code_page;
  } const rows[] = {
      {HtmlDeclaring("euc-kr", ""), true, 51949},
      {HtmlDeclaring("EUC-KR", ""), true, 51949},
      {HtmlDeclaring("UTF-8", ""), true, 65001},
      {HtmlDeclaring("ks_c_5601-1987", ""), true, 0},  // not in the table
      {HtmlDeclaring("windows-1251", ""), true, 0},
      {HtmlDeclaring("shift_jis", ""), true, 932},
      {HtmlDeclaring("gb2312", ""), true, 936},
      {HtmlDeclaring("big5-hkscs", ""), true, 950},  // prefix match
      {HtmlDeclaring("utf", ""), true, 0},           // shorter than "utf-8"
      {"<meta content='text/html;charset = euc-jp'>", true, 51932},
      {"<  meta\ncontent=\"x\" > later charset=iso-2022-jp", true, 50220},
      {"<META content=\"text/html; charset=big5\">", false, -1},
      {"<meta charset=\"euc-kr\">", false, -1},
      {"<meta content=\"text/html\"><meta charset=\"euc-kr\">", true, 0},
      {"<p>charset=euc-kr</p>", false, -1},
      {"<meta name=\"a\" content=\"text/html; charset=shift_jis\">", true, 932},
      {"<metadata content=\"charset=euc-kr\">", true, 51949},
      {"<meta name=x <meta content=\"charset=gb2312\">", true, 936},
      {"", false, -1},
      {"<meta", false, -1},
      {"<meta content", false, -1},
      {"<meta content=\"charset=", true, 0},
      {"<meta content=\"charset=euc-kr" + long_value + "\">", true, 51949},
      {"<meta content=\"charset=" + long_value + "\">", true, 0},
  };
  for (const Row& row : rows) {
    int code_page = -1;
    EXPECT_EQ(SniffHtmlCharset(row.text, code_page), row.found) << row.text.substr(0, 80);
    EXPECT_EQ(code_page, row.code_page) << row.text.substr(0, 80);
  }
}

TEST(CharsetTableTest, LastEntryMatchesEverything) {
  EXPECT_EQ(CodePageOfCharset("ksc5601"), 949);
  EXPECT_EQ(CodePageOfCharset("euc-kr"), 51949);
  EXPECT_EQ(CodePageOfCharset("anything"), 0);
  EXPECT_EQ(CodePageOfCharset(""), 0);
  EXPECT_EQ(std::size(CharsetTable), 9u);
}

TEST_F(TextDecodingTest, ByteOrderMarks) {
  EXPECT_EQ(Decode(std::string("\xFF\xFEh\0\x5C\xD5!\0", 8)), "h\xED\x95\x9C!");
  EXPECT_EQ(Decode(std::string("\xFE\xFF\0h\xD5\x5C\0!", 8)), "h\xED\x95\x9C!");
  EXPECT_EQ(Decode(std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6)), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Decode(std::string("\xFF\xFE\x00\xDEx\0", 6)), "\xEF\xBF\xBDx");  // lone surrogate
  EXPECT_EQ(Decode(std::string("\xFF\xFEh\0\0\0i\0", 8)), "h");  // ends at the first 0 unit
  EXPECT_EQ(Decode("\xFF\xFE"), "");
  EXPECT_EQ(Decode("\xEF\xBB\xBF"
                   "abc"),
            "\xEF\xBB\xBF"
            "abc");  // UTF-8 mark kept as U+FEFF
}

TEST_F(TextDecodingTest, OddLengthUtf16DropsTheHalfUnit) {
  EXPECT_EQ(Decode(std::string("\xFF\xFEh\0i", 5)), "h");
  EXPECT_EQ(Decode(std::string("\xFE\xFF\0h\x41", 5)), "h");
  EXPECT_EQ(Decode(std::string("\xFF\xFE\x41", 3)), "");
}

TEST_F(TextDecodingTest, Utf8WithoutMark) {
  EXPECT_EQ(Decode("<p>caf\xC3\xA9</p>"), "<p>caf\xC3\xA9</p>");
  EXPECT_EQ(Decode("plain ascii"), "plain ascii");
  EXPECT_EQ(Decode(std::string("ab\0cd", 5)), "ab");
}

TEST_F(TextDecodingTest, LegacyEncodingsByMetaCharset) {
  const std::string korean = "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4";    // 한국어
  const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // 日本語
  const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87";               // 中文
  const std::string taiwan = "\xE7\xB9\x81\xE9\xAB\x94";                // 繁體
  struct Row {
    const char* iconv_name;
    const char* declared;
    std::string text;
  } const rows[] = {
      {"EUC-KR", "euc-kr", korean},
      {"CP949", "ksc5601", korean},
      {"SHIFT_JIS", "Shift_JIS", japanese},
      {"EUC-JP", "euc-jp", japanese},
      {"ISO-2022-JP", "iso-2022-jp", japanese},
      {"GB2312", "gb2312", chinese},
      {"BIG5", "big5", taiwan},
  };
  for (const Row& row : rows) {
    std::string html = HtmlDeclaring(row.declared, row.text);
    EXPECT_EQ(Decode(Encode(row.iconv_name, html)), html) << row.iconv_name;
  }
}

TEST_F(TextDecodingTest, UnknownCharsetFallsBackToTheAnsiCodePage) {
  std::string html = HtmlDeclaring("x-unknown", "caf\xC3\xA9");
  EXPECT_EQ(Decode(Encode("CP1252", html)), html);
  ::setenv("ORVO_ANSI_CODEPAGE", "949", 1);
  std::string korean = HtmlDeclaring("windows-949", "\xED\x95\x9C");
  EXPECT_EQ(Decode(Encode("CP949", korean)), korean);
}

TEST_F(TextDecodingTest, UpperCaseUtf8DeclarationOnBytesThatFailTheTest) {
  // A control byte fails the UTF-8 test; the declaration still selects UTF-8.
  std::string html = HtmlDeclaring("UTF-8",
                                   "\x01"
                                   "caf\xC3\xA9");
  EXPECT_EQ(Decode(html), html);
}

TEST_F(TextDecodingTest, UndefinedBytesBecomeReplacementCharacters) {
  std::string bytes = HtmlDeclaring("euc-kr", "\xB0\xA1\xFF\xB0\xA1");
  EXPECT_EQ(Decode(bytes), HtmlDeclaring("euc-kr", "\xEA\xB0\x80\xEF\xBF\xBD\xEA\xB0\x80"));
}

TEST_F(TextDecodingTest, ReadTextFileReadsAndRejectsEmptyFiles) {
  scratch::ScratchFolder temp;
  std::string html = HtmlDeclaring("euc-kr", "\xED\x95\x9C");
  scratch::WriteFile(temp / "k.html", Encode("EUC-KR", html));
  scratch::WriteFile(temp / "empty.html", "");
  std::string text = "stale";
  ASSERT_TRUE(ReadTextFile(temp / "k.html", text));
  EXPECT_EQ(text, html);
  EXPECT_FALSE(ReadTextFile(temp / "empty.html", text));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(ReadTextFile(temp / "missing.html", text));
  EXPECT_FALSE(DecodeTextBytes("", text));
}

TEST(AnsiCodePageTest, FromOverrideOrLocale) {
  ::unsetenv("ORVO_ANSI_CODEPAGE");
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_CTYPE");
  struct Row {
    const char* lang;
    int code_page;
  } const rows[] = {{"ko_KR.UTF-8", 949}, {"ja_JP.UTF-8", 932},  {"zh_CN.UTF-8", 936},
                    {"zh_TW.UTF-8", 950}, {"de_DE.UTF-8", 1252}, {"C", 1252}};
  for (const Row& row : rows) {
    ::setenv("LANG", row.lang, 1);
    EXPECT_EQ(AnsiCodePage(), row.code_page) << row.lang;
  }
  ::setenv("LC_ALL", "ja_JP", 1);
  EXPECT_EQ(AnsiCodePage(), 932);
  ::setenv("ORVO_ANSI_CODEPAGE", "1251", 1);
  EXPECT_EQ(AnsiCodePage(), 1251);
  ::unsetenv("ORVO_ANSI_CODEPAGE");
  ::unsetenv("LC_ALL");
  ::unsetenv("LANG");
}

TEST(DecodeCodePageTest, UnknownCodePageFails) {
  std::string text = "stale";
  EXPECT_FALSE(DecodeCodePage("abc", 99999, text));
  EXPECT_EQ(text, "");
  EXPECT_TRUE(DecodeCodePage("\x80", 1252, text));
  EXPECT_EQ(text, "\xE2\x82\xAC");  // the euro sign of code page 1252
}

TEST(DecodeCodePageTest, ConverterThatFailsAfterTheLastByteStopsThere) {
  // The converter consumes every byte of this and still reports an invalid sequence; stepping
  // over "the bad byte" would then read past the end of the input.
  std::string text;
  ASSERT_TRUE(DecodeCodePage("\xEF\xD3\xBF\x1B\x1B\x1B\x29\xA2\xE8", 949, text));
  EXPECT_TRUE(IsValidUtf8(text));
  EXPECT_LE(text.size(), 9u * 3);
  EXPECT_EQ(text.substr(text.size() - 3), "\xEF\xBF\xBD");
}

}  // namespace
