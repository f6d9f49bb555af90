// The archive decode command against the real binary and its real codec component.
#include <gtest/gtest.h>
#include <httplib.h>
#include <json/json.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include "integration/command_service_test.h"
#include "support/scratch_folder.h"

namespace {

using scratch::ScratchFolder;

// A browser-style archive: a quoted-printable page at a web location, an image found by its
// Content-ID and a style sheet found by its location relative to the page.
const char kArchive[] =
    "From: <Saved by a browser>\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/related; type=\"text/html\"; boundary=\"B\"\r\n"
    "\r\n"
    "--B\r\n"
    "Content-Type: text/html; charset=\"utf-8\"\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "Content-Location: http://example.test/dir/page.html\r\n"
    "\r\n"
    "<html><head><link rel=3D\"stylesheet\" href=3D\"s.css\"></head><body><img src=3D\"cid:i=\r\n"
    "mg1@x\" alt=3D\"=ED=95=9C\"></body></html>\r\n"
    "--B\r\n"
    "Content-Type: image/png; name=\"red.png\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-ID: <img1@x>\r\n"
    "\r\n"
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAAAMBAQDJ/pLv\r\n"
    "AAAAAElFTkSuQmCC\r\n"
    "--B\r\n"
    "Content-Type: text/css\r\n"
    "Content-Location: http://example.test/dir/s.css\r\n"
    "\r\n"
    "b{}\r\n"
    "--B--\r\n";

class MimeDecodeServiceTest : public service_test::CommandServiceTest {
 protected:
  MimeDecodeServiceTest() : CommandServiceTest("cfp-0002") {}

  // Whether the service's log holds text at least times times (it may come after the answer).
  bool Logged(const std::string& text, int times = 1) {
    for (int attempt = 0; attempt < 40; ++attempt) {
      const std::string log = service_.Output();
      int found = 0;
      for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
        ++found;
      }
      if (found >= times) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
};

TEST_F(MimeDecodeServiceTest, AnswersThePageWithRewrittenReferencesAndTheOtherFiles) {
  Json::Value pdu;
  pdu["mimevalue"] = kArchive;
  auto res = Post(pdu);
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200);
  Json::Value answer = Answer(res);
  EXPECT_EQ(answer["error"].asInt(), 0);
  EXPECT_EQ(answer["pdu"]["html"].asString(),
            "<html><head><link rel=\"stylesheet\" href=\"s.css\"></head><body>"
            "<img src=\"red.png\" alt=\"\xED\x95\x9C\"></body></html>");
  const Json::Value& files = answer["pdu"]["files"];
  ASSERT_EQ(files.size(), 2u) << res->body;
  std::string folder = temp_ / "TAVU/00000000/";
  EXPECT_EQ(files[0]["filename"].asString(), "red.png");
  EXPECT_EQ(files[0]["filepath"].asString(), folder + "red.png");
  EXPECT_EQ(files[0]["base64string"].asString(),
            "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAAAMBAQDJ/pLv\r\n"
            "AAAAAElFTkSuQmCC\r\n");
  EXPECT_EQ(files[1]["filename"].asString(), "s.css");
  EXPECT_EQ(files[1]["base64string"].asString(),
            "Ynt9\r\n");  // the line end before a boundary belongs to it
  EXPECT_EQ(RequestFoldersLeft(), 0);
}

TEST_F(MimeDecodeServiceTest, ErrorNumbersLeaveNoWorkspace) {
  struct Row {
    const char* name;
    Json::Value pdu;
    int error;
    const char* logged;  // the reason, beside the outward number
  };
  Json::Value missing(Json::objectValue);
  Json::Value null_value;
  null_value["mimevalue"] = Json::Value();
  null_value["temppath"] = Json::Value();
  Json::Value empty;
  empty["mimevalue"] = "";
  Json::Value no_page;
  no_page["mimevalue"] =
      "Content-Type: multipart/related; boundary=b\r\n\r\n--b\r\nContent-Type: image/png\r\n"
      "\r\nxx\r\n--b--\r\n";
  Json::Value plain;
  plain["mimevalue"] = "just some text";
  Row rows[] = {{"missing", missing, 10000, ""},
                {"null", null_value, 10000, ""},
                {"empty", empty, 4, "the archive is empty"},
                {"no html part", no_page, 4, "the archive holds no page"},
                {"not an archive", plain, 4, "the archive holds no page"}};
  std::map<std::string, int> reasons;  // how often each was logged so far
  for (const Row& row : rows) {
    auto res = Post(row.pdu);
    ASSERT_TRUE(res) << row.name;
    Json::Value answer = Answer(res);
    EXPECT_EQ(answer["error"].asInt(), row.error) << row.name;
    Json::Value expected_pdu;
    expected_pdu["html"] = "";
    EXPECT_EQ(answer["pdu"], expected_pdu) << row.name << ": " << res->body;
    if (row.error == 10000) {
      EXPECT_FALSE(scratch::Exists(temp_ / "TAVU")) << row.name;
    } else {
      EXPECT_TRUE(Logged(std::string("MIME decode failed: ") + row.logged, ++reasons[row.logged]))
          << row.name << ": " << service_.Output();
    }
  }
  EXPECT_EQ(RequestFoldersLeft(), 0);
}

TEST_F(MimeDecodeServiceTest, MembersOfTheWrongTypeAnswer500BeforeAnyWorkspace) {
  Json::Value number_archive;
  number_archive["mimevalue"] = 42;
  Json::Value number_path;
  number_path["mimevalue"] = kArchive;
  number_path["temppath"] = 7;
  for (const Json::Value& pdu : {number_archive, number_path}) {
    auto res = Post(pdu);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 500);
    EXPECT_EQ(res->get_header_value("EXCEPTION_WHAT"),
              "in Json::Value::asCString(): requires stringValue");
  }
  EXPECT_FALSE(scratch::Exists(temp_ / "TAVU"));
}

TEST_F(MimeDecodeServiceTest, MissingComponentIsError4) {
  // The component is loaded at each use, so taking it away affects the next request.
  ASSERT_EQ(std::remove((service_.folder() + "mimearchivecodec.so").c_str()), 0);
  Json::Value pdu;
  pdu["mimevalue"] = kArchive;
  auto res = Post(pdu);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body,
            "{\"cmd\":\"cfp-0002\",\"error\":4,\"pdu\":{\"html\":\"\"},\"session\":\"it\"}\n");
  EXPECT_TRUE(Logged("MIME decode failed: the archive codec is not available"));
  EXPECT_EQ(RequestFoldersLeft(), 0);
}

}  // namespace
