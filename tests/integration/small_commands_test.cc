#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <string>

#include "integration/service_fixture.h"
#include "support/scratch_folder.h"

namespace {

using scratch::ReadFile;
using scratch::ScratchFolder;
using scratch::WriteFile;
using service_test::ServiceProcess;

// The service runs with TMPDIR pointing at a private folder, so its request folders can be
// watched.
class SmallCommandsServiceTest : public service_test::RunningServiceTest {
 protected:
  httplib::Result Post(const std::string& body) {
    return service_.Client()->Post("/", body, "text/plain");
  }
  int RequestFoldersLeft() const { return scratch::CountEntries(temp_ / "TAVU"); }

  ScratchFolder temp_;
  scratch::TempDirOverride tmpdir_{temp_.path()};
  ScratchFolder files_;
};

std::string Envelope(const std::string& cmd, const std::string& pdu) {
  return "{\"cmd\":\"" + cmd + "\",\"session\":\"it\",\"pdu\":" + pdu + "}";
}

std::string Answer(const std::string& cmd, int error, const std::string& pdu) {
  return "{\"cmd\":\"" + cmd + "\",\"error\":" + std::to_string(error) + ",\"pdu\":" + pdu +
         ",\"session\":\"it\"}\n";
}

TEST_F(SmallCommandsServiceTest, CleanupAnswersAnEmptyBody) {
  auto res = Post(Envelope("cfp-0030", "{\"anything\":[1,2,3]}"));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, "");
}

TEST_F(SmallCommandsServiceTest, KoreanHtmlIsWrittenByteExactWithoutMark) {
  const std::string korean = "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4";  // 한국어
  std::string path = files_ / "korean.HTM";
  auto res = Post(Envelope("cfp-0060", "{\"html\":\"<p>" + korean +
                                           "</p>\\r\\n\","
                                           "\"filefullpath\":\"" +
                                           path + "\"}"));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, Answer("cfp-0060", 0, "null"));
  EXPECT_EQ(ReadFile(path), "<p>" + korean + "</p>\r\n");
  EXPECT_EQ(RequestFoldersLeft(), 0);
  EXPECT_NE(service_.Output().find("\n RemoveDirectory : [ " + temp_ / "TAVU/00000000 ]"),
            std::string::npos)
      << service_.Output();
}

TEST_F(SmallCommandsServiceTest, HtmlFileErrorNumbers) {
  struct Row {
    std::string pdu;
    int error;
  } const rows[] = {
      {"{\"html\":\"<p>\",\"filefullpath\":\"" + files_ / "a.txt" + "\"}", 7},
      {"{\"html\":\"\",\"filefullpath\":\"" + files_ / "b.html" + "\"}", 5},
      {"{\"html\":\"<p>\"}", 10000},
  };
  for (const Row& row : rows) {
    auto res = Post(Envelope("cfp-0060", row.pdu));
    ASSERT_TRUE(res) << row.pdu;
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, Answer("cfp-0060", row.error, "null")) << row.pdu;
  }
  EXPECT_FALSE(scratch::Exists(files_ / "a.txt"));
  EXPECT_FALSE(scratch::Exists(files_ / "b.html"));
  EXPECT_EQ(RequestFoldersLeft(), 0);
}

TEST_F(SmallCommandsServiceTest, WrongMemberTypesAnswer500) {
  for (const std::string& body :
       {Envelope("cfp-0060", "{\"html\":42,\"filefullpath\":\"" + files_ / "c.html" + "\"}"),
        Envelope("cfp-0040", "[1]"), Envelope("cfp-0040", "{\"files\":[\"x.png\"]}")}) {
    auto res = Post(body);
    ASSERT_TRUE(res) << body;
    EXPECT_EQ(res->status, 500) << body;
  }
  EXPECT_FALSE(scratch::Exists(files_ / "c.html"));
  EXPECT_EQ(RequestFoldersLeft(), 0);
}

TEST_F(SmallCommandsServiceTest, FilesCommandReturnsAPngAndATextFileInOrder) {
  WriteFile(files_ / "red.png", scratch::TinyPng());
  WriteFile(files_ / "notes.txt", "not an image");
  auto res = Post(Envelope("cfp-0040", "{\"files\":[{\"filepath\":\"" + files_ / "red.png" +
                                           "\",\"id\":\"p\"},{\"filepath\":\"" +
                                           files_ / "notes.txt" + "\",\"id\":\"t\"}]}"));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  // base64 of the 69-byte PNG: one line of 76 characters and one of 20, each ended by \r\n.
  const std::string png_text =
      "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAAAMBAQDJ/pLv\\r\\n"
      "AAAAAElFTkSuQmCC\\r\\n";
  EXPECT_EQ(res->body, Answer("cfp-0040", -1,
                              "{\"files\":[{\"base64string\":\"" + png_text + "\",\"filepath\":\"" +
                                  files_ / "red.png" + "\",\"id\":\"p\"},{\"filepath\":\"" +
                                  files_ / "notes.txt" + "\",\"id\":\"t\"}]}"));
}

TEST_F(SmallCommandsServiceTest, FilesCommandWithoutFilesAnswersNull) {
  auto res = Post(Envelope("cfp-0040", "{}"));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body, Answer("cfp-0040", -1, "{\"files\":null}"));
}

// The image library and the libraries under it are mapped by the first picture, not at start;
// without their module the service does not start.
TEST_F(SmallCommandsServiceTest, ImageCodecsAreLoadedByTheFirstPicture) {
  auto codecs_mapped = [&] {
    return ReadFile("/proc/" + std::to_string(service_.pid()) + "/maps").find("GraphicsMagick") !=
           std::string::npos;
  };
  ASSERT_TRUE(Post(Envelope("cfp-1000", "{}")));
  EXPECT_FALSE(codecs_mapped());
  // A GIF: a plain PNG's header is read without the library.
  WriteFile(files_ / "red.gif",
            std::string("GIF89a\x01\0\x01\0\x80\0\0\xff\0\0\0\0\0,\0\0\0\0\x01\0\x01\0\0\x02\x02"
                        "D\x01\0;",
                        35));
  auto res =
      Post(Envelope("cfp-0040", "{\"files\":[{\"filepath\":\"" + files_ / "red.gif" + "\"}]}"));
  ASSERT_TRUE(res);
  EXPECT_NE(res->body.find("base64string"), std::string::npos);
  EXPECT_TRUE(codecs_mapped());

  ServiceProcess without;
  std::filesystem::remove(without.folder() + "orvoimaging.so");
  ASSERT_TRUE(without.Start(false));
  EXPECT_EQ(without.WaitForExit(10000), 0);
  EXPECT_NE(without.Output().find("GDI+"), std::string::npos);
}

}  // namespace
