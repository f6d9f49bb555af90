#include "fetch/encode_url.h"

#include <gtest/gtest.h>

#include <string>

#include "fetch/download_url.h"

namespace {

struct Row {
  std::string input;
  std::string expected;
};

TEST(EncodeUrl, EncodesByTheTable) {
  const Row rows[] = {
      {"", ""},
      {"http://127.0.0.1:8080/img/a.png", "http://127.0.0.1:8080/img/a.png"},
      {"AZaz09@./\\-_:", "AZaz09@./\\-_:"},
      // A blank is escaped, never turned into '+', which means '+' in a path.
      {"/a b.png", "/a%20b.png"},
      {"/a+b.png", "/a%2bb.png"},
      // Korean text as UTF-8 bytes, lower-case hexadecimal.
      {"/\xED\x95\x9C\xEA\xB8\x80.png", "/%ed%95%9c%ea%b8%80.png"},
      {"~!*'();=&$,?#[]", "%7e%21%2a%27%28%29%3b%3d%26%24%2c%3f%23%5b%5d"},
      {std::string("a\0b\x01\x7F\xFF", 6), "a%00b%01%7f%ff"},
      // Valid escapes stay as written (either letter case); a lone '%' is escaped.
      {"/a%20b.png", "/a%20b.png"},
      {"/%E2%82%AC%2f", "/%E2%82%AC%2f"},
      {"/100%", "/100%25"},
      {"/%2", "/%252"},
      {"/%zz", "/%25zz"},
      {"/%%41", "/%25%41"},
      {"/%4g", "/%254g"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(EncodeUrl(row.input), row.expected) << "input: " << row.input;
  }
}

TEST(EncodeUrl, IsIdempotent) {
  const std::string inputs[] = {"/a b%20c%zz.png", "/\xED\x95\x9C 100%.png", "%%%", "/%41%"};
  for (const std::string& input : inputs) {
    std::string once = EncodeUrl(input);
    EXPECT_EQ(EncodeUrl(once), once) << "input: " << input;
    EXPECT_LE(once.size(), input.size() * 3);
  }
}

TEST(RequestUrl, EncodesThePathOfUrlsWithoutQuery) {
  const Row rows[] = {
      {"http://127.0.0.1:8080/a b.png", "http://127.0.0.1:8080/a%20b.png"},
      {"HTTPS://h/\xC3\xA9.png", "HTTPS://h/%c3%a9.png"},
      {"http://h/a%20b.png", "http://h/a%20b.png"},
      {"http://h", "http://h"},
      // The host is left alone: IPv6 literals and international names.
      {"http://[::1]:8080/a b.png", "http://[::1]:8080/a%20b.png"},
      {"http://\xED\x95\x9C.kr/a.png", "http://\xED\x95\x9C.kr/a.png"},
      {"http://user@h/a.png", "http://user@h/a.png"},
      // Without "scheme://" the whole text is encoded.
      {"relative/a b.png", "relative/a%20b.png"},
      {"h t://x/a b", "h%20t://x/a%20b"},
      // Text that is not UTF-8 is sanitised first, as every text bound for the library.
      {"http://h/\xFF.png", "http://h/%ef%bf%bd.png"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RequestUrl(row.input), row.expected) << "input: " << row.input;
  }
}

TEST(RequestUrl, UsesUrlsWithQueryAsGiven) {
  const Row rows[] = {
      {"http://h/a b.png?x=1 2&y=%zz", "http://h/a b.png?x=1 2&y=%zz"},
      {"http://h/img.php?id=\xED\x95\x9C", "http://h/img.php?id=\xED\x95\x9C"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RequestUrl(row.input), row.expected) << "input: " << row.input;
  }
}

TEST(RequestUrl, CutsTheFragment) {
  const Row rows[] = {
      {"http://h/a.png#top", "http://h/a.png"},
      {"http://h/a b.png#x y", "http://h/a%20b.png"},
      {"http://h/a.png?x=1#top", "http://h/a.png?x=1"},
      // A '?' after the '#' belongs to the fragment: the URL has no query.
      {"http://h/a b.png#frag?x=1", "http://h/a%20b.png"},
      {"#only", ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RequestUrl(row.input), row.expected) << "input: " << row.input;
  }
}

}  // namespace
