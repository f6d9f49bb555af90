// The archive encode command against the real binary, its download library and its codec.
#include <gtest/gtest.h>
#include <httplib.h>
#include <json/json.h>

#include <filesystem>
#include <set>
#include <string>

#include "fetch/test_http_server.h"
#include "integration/command_service_test.h"
#include "mime/mime_codec_client.h"
#include "protocol/file_records.h"
#include "support/scratch_folder.h"

namespace {

using scratch::ScratchFolder;

class MimeEncodeServiceTest : public service_test::CommandServiceTest {
 protected:
  MimeEncodeServiceTest() : CommandServiceTest("cfp-0001") {}
};

// libcurl and what it brings are mapped by the first web picture, not at start.
TEST_F(MimeEncodeServiceTest, ArchivesLocalAndWebPicturesAndRemovesItsFolder) {
  auto curl_mapped = [&] {
    return scratch::ReadFile("/proc/" + std::to_string(service_.pid()) + "/maps")
               .find("libcurl") != std::string::npos;
  };
  EXPECT_FALSE(curl_mapped());
  TestHttpServer server;
  std::string web_png = scratch::TinyPng() + "w";
  server.AddFile("w.png", web_png);
  ScratchFolder pictures;
  scratch::WriteFile(pictures / "a b.png", scratch::TinyPng());
  Json::Value pdu;
  pdu["html"] = "<p><img src=\"file://" + (pictures / "a%20b.png") + "\"><img src=\"" +
                server.Url("/files/w.png") + "\"></p>";
  pdu["mimeoptions"]["mimeencodeincludeurl"] = server.Url("/");
  auto res = Post(pdu);
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200);
  Json::Value answer = Answer(res);
  ASSERT_EQ(answer["error"].asInt(), 0) << res->body;
  EXPECT_EQ(answer["pdu"].getMemberNames(), std::vector<std::string>{"mimevalue"});
  EXPECT_EQ(RequestFoldersLeft(), 0);
  EXPECT_TRUE(curl_mapped());

  ScratchFolder out;
  ASSERT_TRUE(MimeCodecClient(std::string(ORVO_DIST_DIR) + "/")
                  .Decode(answer["pdu"]["mimevalue"].asString(), out.path() + "/"));
  std::multiset<std::string> contents;
  for (const auto& entry : std::filesystem::directory_iterator(out.path())) {
    if (entry.path().filename() != "noname.htm") {
      contents.insert(scratch::ReadFile(entry.path().string()));
    }
  }
  EXPECT_EQ(contents, (std::multiset<std::string>{scratch::TinyPng(), web_png}));
}

// Without libcurl's module no length is known, and the download library, which has libcurl of
// its own, still fetches the web picture.
TEST(MimeEncodeWithoutCurlTest, WebPicturesAreStillFetched) {
  TestHttpServer server;
  server.AddFile("w.png", scratch::TinyPng());
  service_test::ServiceProcess service;
  std::filesystem::remove(service.folder() + "orvofetch.so");
  ASSERT_TRUE(service.Start());
  Json::Value envelope;
  envelope["cmd"] = "cfp-0001";
  envelope["session"] = "s";
  envelope["pdu"]["html"] = "<p><img src=\"" + server.Url("/files/w.png") + "\"></p>";
  envelope["pdu"]["mimeoptions"]["mimeencodeincludeurl"] = server.Url("/");
  auto res = service.Client()->Post("/", Json::FastWriter().write(envelope), "text/plain");
  ASSERT_TRUE(res);
  Json::Value answer;
  ASSERT_TRUE(Json::Reader().parse(res->body, answer));
  EXPECT_EQ(answer["error"].asInt(), 0) << res->body;
  ScratchFolder out;
  ASSERT_TRUE(MimeCodecClient(std::string(ORVO_DIST_DIR) + "/")
                  .Decode(answer["pdu"]["mimevalue"].asString(), out.path() + "/"));
  std::set<std::string> parts;
  for (const auto& entry : std::filesystem::directory_iterator(out.path())) {
    parts.insert(scratch::ReadFile(entry.path().string()));
  }
  EXPECT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts.count(scratch::TinyPng()), 1u);
}

TEST_F(MimeEncodeServiceTest, EncodeThenDecodeThroughTheServiceKeepsEveryByte) {
  ScratchFolder pictures;
  std::string bytes[] = {scratch::TinyPng(), scratch::TinyPng() + std::string("\0\r\n", 3)};
  scratch::WriteFile(pictures / "a.png", bytes[0]);
  scratch::WriteFile(pictures / "b.png", bytes[1]);
  Json::Value pdu;
  pdu["html"] = "<p>\xED\x95\x9C<img src=\"" + (pictures / "a.png") + "\"><img src=\"" +
                (pictures / "b.png") + "\"></p>";
  Json::Value encoded = Answer(Post(pdu));
  ASSERT_EQ(encoded["error"].asInt(), 0);
  Json::Value archive;
  archive["mimevalue"] = encoded["pdu"]["mimevalue"];
  Json::Value decoded = Answer(Post("cfp-0002", archive));
  ASSERT_EQ(decoded["error"].asInt(), 0);
  const Json::Value& files = decoded["pdu"]["files"];
  ASSERT_EQ(files.size(), 2u);
  std::string html = decoded["pdu"]["html"].asString();
  std::multiset<std::string> contents;
  for (const Json::Value& file : files) {
    std::string name = file["filename"].asString();
    EXPECT_NE(html.find("src=\"" + name + "\""), std::string::npos) << html;
    contents.insert(file["base64string"].asString());
  }
  EXPECT_EQ(contents, (std::multiset<std::string>{Base64Encode(bytes[0]), Base64Encode(bytes[1])}));
  EXPECT_NE(html.find("<p>\xED\x95\x9C<img"), std::string::npos);
  EXPECT_EQ(RequestFoldersLeft(), 0);
}

TEST_F(MimeEncodeServiceTest, AnEmptyPageIsError2AndKeepsItsFolder) {
  Json::Value pdu;
  pdu["html"] = "";
  pdu["temppath"] = temp_.path();
  pdu["mimeoptions"] = Json::Value(Json::objectValue);
  auto res = Post(pdu);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body,
            "{\"cmd\":\"cfp-0001\",\"error\":2,\"pdu\":{\"mimevalue\":\"\"},\"session\":\"it\"}\n");
  EXPECT_EQ(RequestFoldersLeft(), 1);
}

TEST_F(MimeEncodeServiceTest, MembersOfTheWrongTypeAnswer500BeforeAnyFolder) {
  auto pdu_with = [](const char* key, const Json::Value& value) {
    Json::Value pdu;
    pdu["html"] = "<p>x</p>";
    pdu[key] = value;
    return pdu;
  };
  Json::Value options_array = pdu_with("mimeoptions", Json::Value(Json::arrayValue));
  Json::Value bad_filter = pdu_with("mimeoptions", Json::Value(Json::objectValue));
  bad_filter["mimeoptions"]["mimeencodefilter"] = "all";
  Json::Value bad_prefix = pdu_with("mimeoptions", Json::Value(Json::objectValue));
  bad_prefix["mimeoptions"]["mimeencodeincludeurl"] = 1;
  Json::Value no_html;
  struct Row {
    Json::Value pdu;
    const char* what;
  } rows[] = {
      {options_array, "in Json::Value::resolveReference(key, end): requires objectValue"},
      {bad_filter, "Value is not convertible to Int."},
      {bad_prefix, "in Json::Value::asCString(): requires stringValue"},
      {pdu_with("temppath", 7), "in Json::Value::asCString(): requires stringValue"},
      {no_html, "in Json::Value::asCString(): requires stringValue"},
  };
  for (const Row& row : rows) {
    auto res = Post(row.pdu);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 500) << row.what;
    EXPECT_EQ(res->get_header_value("EXCEPTION_WHAT"), row.what);
  }
  EXPECT_FALSE(scratch::Exists(temp_ / "TAVU"));
}

}  // namespace
