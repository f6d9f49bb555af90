#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "word/html_image_document.h"

namespace {

TEST(ParseDataUri, AcceptsBase64ImagesOnly) {
  struct Row {
    const char* uri;
    bool accepted;
    const char* payload;    // after the call (unchanged "keep" when not reached)
    const char* extension;  // after the call, starting from "png"
  } rows[] = {
      {"data:image/png;base64,iVBORw0KGgo=", true, "iVBORw0KGgo=", "png"},
      {"data:image/jpeg;base64,/9j/4AAQ", true, "/9j/4AAQ", "jpg"},
      {"data:image/JPEG;base64,/9j/", true, "/9j/", "JPEG"},  // the rename is exact
      {"DATA:IMAGE/GIF;BASE64,R0lGOD", true, "R0lGOD", "GIF"},
      {"data:image/svg+xml;base64,PHN2Zz4=", true, "PHN2Zz4=", "svg+xml"},
      {"data:image/png,iVBOR", false, "iVBOR", "png"},  // no encoding word
      {"data:image/gif;charset=x,R0lG", false, "R0lG", "gif"},
      {"data:text/plain;base64,R0lGODlh", true, "R0lGODlh", "gif"},
      {"data:text/plain;base64,SGVsbG8=", false, "SGVsbG8=", "plain"},
      {"data:;base64,/9j/4AAQ", true, "/9j/4AAQ", "jpg"},
      {"data:;base64,SGVsbG8=", false, "SGVsbG8=", "png"},
      {"Data:;base64,/9j/", false, "/9j/", "png"},  // the bare prefix is exact
      {"data:application/x;base64,iVBOR", false, "iVBOR", "x"},
      {"data:image/png;base64,", false, "keep", "png"},
      {"data:,iVBOR", false, "iVBOR", "png"},
      {"http://host/a.png", false, "keep", "png"},
      {"", false, "keep", "png"},
  };
  for (const Row& row : rows) {
    std::string payload = "keep";
    std::string extension = "png";
    EXPECT_EQ(ParseDataUri(row.uri, payload, extension), row.accepted) << row.uri;
    EXPECT_EQ(payload, row.payload) << row.uri;
    EXPECT_EQ(extension, row.extension) << row.uri;
  }
}

TEST(SniffBase64ImageType, LooksAtTheFirstCharacterOnly) {
  struct Row {
    const char* payload;
    const char* type;
  } rows[] = {{"/9j/4AAQ", "jpg"}, {"R0lGODlh", "gif"}, {"iVBORw0K", "png"}, {"/", "jpg"},
              {"UklGR", ""},       {"r0lg", ""},        {"I", ""},           {"", ""}};
  for (const Row& row : rows) EXPECT_EQ(SniffBase64ImageType(row.payload), row.type) << row.payload;
}

TEST(SplitTokens, RunsOfDelimitersNeverGiveEmptyTokens) {
  struct Row {
    const char* text;
    const char* delimiters;
    std::vector<std::string> tokens;
  } rows[] = {
      {"a,b", ",", {"a", "b"}}, {",,a,,,b,", ",", {"a", "b"}},
      {",,,", ",", {}},         {"", ",", {}},
      {"abc", ",", {"abc"}},    {"a;b/c", ";/", {"a", "b", "c"}},
      {"abc", "", {"abc"}},
  };
  for (const Row& row : rows) {
    std::vector<std::string> tokens;
    SplitTokens(row.text, row.delimiters, tokens);
    EXPECT_EQ(tokens, row.tokens) << row.text;
  }
  std::vector<std::string> appended = {"x"};
  SplitTokens("y z", " ", appended);
  EXPECT_EQ(appended, (std::vector<std::string>{"x", "y", "z"}));
}

}  // namespace
