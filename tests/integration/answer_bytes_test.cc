// Whole answers of the real binary, byte for byte, as checksums of their text. What differs from
// run to run is written over first: the scratch folder's path as <P>, the archive's boundary
// Content-IDs and stored names (random) as <B>, <C> and <L>.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>

#include <cstdio>
#include <regex>
#include <string>

#include "integration/command_service_test.h"
#include "support/scratch_folder.h"

namespace {

std::string Sha256(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr);
  std::string hex;
  char two[3];
  for (unsigned int i = 0; i < size; ++i) {
    std::snprintf(two, sizeof two, "%02x", digest[i]);
    hex += two;
  }
  return hex;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// An archive whose page holds every kind of character the writer escapes or passes on.
const char kArchive[] =
    "From: <Saved by a browser>\\r\\nMIME-Version: 1.0\\r\\n"
    "Content-Type: multipart/related; type=\\\"text/html\\\"; boundary=\\\"B\\\"\\r\\n\\r\\n"
    "--B\\r\\nContent-Type: text/html; charset=\\\"utf-8\\\"\\r\\n"
    "Content-Transfer-Encoding: quoted-printable\\r\\n"
    "Content-Location: http://example.test/d/p.html\\r\\n\\r\\n"
    "<p title=3D\\\"q\\\\\\\\b\\\">\\u0001\\t\\u00e9\\ud83d\\ude00\\/ =01=7F=FE<img src=3D\\\"i.png\\\"></p>"
    "\\r\\n--B\\r\\nContent-Type: image/png\\r\\nContent-Transfer-Encoding: base64\\r\\n"
    "Content-Location: http://example.test/d/i.png\\r\\n\\r\\n"
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAAAMBAQDJ/pLv\\r\\n"
    "AAAAAElFTkSuQmCC\\r\\n--B--\\r\\n";

class AnswerBytesTest : public service_test::CommandServiceTest {
 protected:
  AnswerBytesTest() : CommandServiceTest("cfp-1000") {}

  std::string Normalised(std::string answer) const {
    answer = ReplaceAll(std::move(answer), pictures_.path(), "<P>");  // it lies in the other
    answer = ReplaceAll(std::move(answer), temp_.path(), "<T>");
    answer = std::regex_replace(answer, std::regex("=-[A-Za-z0-9+/]{10,}"), "<B>");
    answer = std::regex_replace(answer, std::regex("[0-9]{15}_[A-Z0-9]{8}"), "<L>");
    return std::regex_replace(answer, std::regex("[A-Za-z0-9]{12}@[A-Za-z0-9.-]+"), "<C>");
  }

  scratch::ScratchFolder pictures_;
};

TEST_F(AnswerBytesTest, AnswersKeepTheirBytes) {
  std::string picture = scratch::TinyPng();
  scratch::WriteFile(pictures_ / "a.png", picture);
  scratch::WriteFile(pictures_ / "big.png", picture + std::string(3u << 20, '\x7f'));
  std::string big = pictures_ / "big.png";
  struct Row {
    const char* name;
    std::string body;
    const char* sha256;
  } rows[] = {
      {"decode", std::string("/* c */{\"cmd\":\"cfp-0002\",\"session\":\"s\\u00e9\\\"\",") +
                     "\"pdu\":{\"temppath\":\"\",\"mimevalue\":\"" + kArchive + "\"}}",
       "055a87203c2a3e79e20549530eae679ad05a76755392a09f4b4d927c5c3f9fae"},
      {"encode", "{\"cmd\":\"cfp-0001\",\"session\":\"e\",\"pdu\":{\"html\":\"<p>\\\"x\\\\\\u0002"
                 "\\u00e9</p>\\n<img src=\\\"file://" + (pictures_ / "a.png") +
                     "\\\">\\n<img src=\\\"file://" + big +
                     "\\\">\",\"mimeoptions\":{\"mimeencodetype\":2}}}",
       "bda2ae6ea57d1a6a0cd69ce360a6c2165f88250673ba256b4f6b9d4ed8f2b51d"},
      {"encode page", "{\"cmd\":\"cfp-0001\",\"session\":\"e\",\"pdu\":{\"html\":\"<!DOCTYPE html>"
                      "\\n<html lang=en><head><title>t</title><style>p{}</style></head>\\n<body>"
                      "<!--c--><p class='a&amp;b'>x</p><img src=\\\"" + (pictures_ / "a.png") +
                      "\\\"><img alt=y src=\\\"" + (pictures_ / "a.png") + "\\\"></body>\\n"
                      "</html>\\n\"}}",
       "2e3eadaacf0b18656ce6210c15eefc8c097b6644212a26b64d9f1172f5888418"},
      {"files", "{\"cmd\":\"cfp-0040\",\"session\":\"f\",\"pdu\":{\"files\":[{\"filepath\":\"" +
                    (pictures_ / "a.png") + "\"},{\"filepath\":\"" + big + "\",\"k\":1}]}}",
       "1162cae354463f3b7fd3c48e1ca1d0e4df031877c141781f639fca1639f5e9f6"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto res = service_.Client()->Post("/", row.body, "text/plain");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    std::string answer = Normalised(res->body);
    EXPECT_EQ(Sha256(answer), row.sha256) << answer.substr(0, 2000);
  }
}

}  // namespace
