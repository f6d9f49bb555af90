#include "text/text_conversion.h"

#include <gtest/gtest.h>

#include "text/url_spelling.h"

namespace {

constexpr char kFffd[] = "\xEF\xBF\xBD";

TEST(TextConversion, ValidTextComesBackUnchanged) {
  for (const char* text : {"", "ascii", "한국어 텍스트", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF",
                           "\xEF\xBB\xBF"
                           "bom"}) {
    EXPECT_EQ(Utf8ToWide(text), text);
    EXPECT_EQ(WideToUtf8(text), text);
    EXPECT_TRUE(IsValidUtf8(text));
  }
  EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(TextConversion, InvalidSequencesBecomeReplacementCharacters) {
  struct Case {
    std::string input;
    std::string output;
  } cases[] = {
      {"\x80", kFffd},                                                   // Stray continuation.
      {"a\xC3", std::string("a") + kFffd},                               // Truncated at the end.
      {"\xC0\xAF", std::string(kFffd) + kFffd},                          // Over-long '/'.
      {"\xE0\x80\xAF", std::string(kFffd) + kFffd + kFffd},              // Over-long, three bytes.
      {"\xED\xA0\x80", std::string(kFffd) + kFffd + kFffd},              // UTF-16 surrogate.
      {"\xF4\x90\x80\x80", std::string(kFffd) + kFffd + kFffd + kFffd},  // Above U+10FFFF.
      {"\xFF"
       "ok",
       std::string(kFffd) + "ok"},
      {"\xEA\xB0"
       "x",
       std::string(kFffd) + kFffd + "x"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(IsValidUtf8(c.input));
    EXPECT_EQ(Utf8ToWide(c.input), c.output);
    EXPECT_TRUE(IsValidUtf8(Utf8ToWide(c.input)));
  }
}

}  // namespace

namespace {

// Long ASCII runs are checked several bytes at a time: a bad byte at any place in or after
// such a run is still found, and a valid sequence across a block boundary is kept.
TEST(TextConversion, FindsBadBytesAtEveryPlaceOfALongAsciiRun) {
  for (size_t at = 0; at < 20; ++at) {
    std::string bad = std::string(at, 'a') + "\x80" + std::string(19 - at, 'b');
    EXPECT_FALSE(IsValidUtf8(bad)) << at;
    EXPECT_EQ(Utf8ToWide(bad), std::string(at, 'a') + "\xEF\xBF\xBD" + std::string(19 - at, 'b'));
    std::string good = std::string(at, 'a') + "\xED\x95\x9C" + std::string(19 - at, 'b');
    EXPECT_TRUE(IsValidUtf8(good)) << at;
  }
}

TEST(UrlSpelling, DecodesUnreservedEscapesAndUppersTheRest) {
  struct Row {
    const char* url;
    const char* normal;
  } rows[] = {
      {"http://h/%7Eu/%61%2D%2e%5F.png", "http://h/~u/a-._.png"},
      {"http://h/a%2fb%3a%c3%a9", "http://h/a%2Fb%3A%C3%A9"},
      {"a%20b%25", "a%20b%25"},
      {"%zz%4%", "%zz%4%"},  // no escapes: kept
      {"%41%", "A%"},
      {"", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(NormalizeUrlEscapes(row.url), row.normal) << row.url;
}

}  // namespace
