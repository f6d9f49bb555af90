#include "protocol/small_commands.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include <filesystem>

#include "imaging/image_utils.h"
#include "protocol/command_request.h"
#include "protocol/command_table.h"
#include "protocol/file_records.h"
#include "support/scratch_folder.h"

namespace {

using scratch::ReadFile;
using scratch::ScratchFolder;
using scratch::StdoutCapture;
using scratch::WriteFile;

// Every test runs with a private system temp folder, so leftovers can be counted.
class SmallCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(InitializeImaging()); }
  std::string Run(const std::string& envelope) {
    request_ = CommandRequest();
    EXPECT_TRUE(request_.Parse(envelope)) << envelope;
    StdoutCapture capture;
    std::string answer = doCMD(request_, request_.CommandCode());
    log_ = capture.Text();
    return answer;
  }
  // Request folders left in a TAVU root.
  static int Leftovers(const std::string& root) { return scratch::CountEntries(root); }
  ScratchFolder temp_;
  scratch::TempDirOverride tmpdir_{temp_.path()};
  CommandRequest request_;
  std::string log_;
};

TEST_F(SmallCommandsTest, CleanupAnswersNothing) {
  EXPECT_EQ(Run("{\"cmd\":\"cfp-0030\",\"session\":\"s\",\"pdu\":{\"html\":\"x\"}}"), "");
  EXPECT_EQ(request_.error, -1);
  EXPECT_EQ(Run("{\"cmd\":\"CFP-0030\",\"pdu\":[1,2]}"), "");
}

TEST_F(SmallCommandsTest, FilesCommandFillsImagesInOrder) {
  ScratchFolder files;
  WriteFile(files / "a.png", scratch::TinyPng());
  WriteFile(files / "b.txt", "text");
  Json::Value list(Json::arrayValue);
  std::string answer =
      Run("{\"cmd\":\"cfp-0040\",\"session\":\"s9\",\"pdu\":{\"files\":["
          "{\"filepath\":\"" +
          files / "a.png" +
          "\",\"tag\":1},"
          "{\"filepath\":\"" +
          files / "b.txt" + "\"}]}}");
  std::string png_text = Base64Encode(scratch::TinyPng());
  std::string escaped;
  for (char c : png_text) escaped += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  EXPECT_EQ(answer, "{\"cmd\":\"cfp-0040\",\"error\":-1,\"pdu\":{\"files\":[{\"base64string\":\"" +
                        escaped + "\",\"filepath\":\"" + files / "a.png" +
                        "\",\"tag\":1},{\"filepath\":\"" + files / "b.txt" +
                        "\"}]},\"session\":\"s9\"}\n");
}

TEST_F(SmallCommandsTest, FilesCommandWithoutFilesAnswersNull) {
  EXPECT_EQ(Run("{\"cmd\":\"cfp-0040\",\"session\":\"s\",\"pdu\":{}}"),
            "{\"cmd\":\"cfp-0040\",\"error\":-1,\"pdu\":{\"files\":null},\"session\":\"s\"}\n");
  EXPECT_EQ(Run("{\"cmd\":\"cfp-0040\",\"session\":\"s\"}"),
            "{\"cmd\":\"cfp-0040\",\"error\":-1,\"pdu\":{\"files\":null},\"session\":\"s\"}\n");
}

TEST_F(SmallCommandsTest, FilesCommandRaisesTheJsonErrorForWrongTypes) {
  for (const char* pdu : {"[1]", "\"x\"", "{\"files\":[\"a.png\"]}"}) {
    CommandRequest request;
    request.Parse(std::string("{\"cmd\":\"cfp-0040\",\"pdu\":") + pdu + "}");
    EXPECT_THROW(doCMD(request, request.CommandCode()), Json::LogicError) << pdu;
  }
}

TEST_F(SmallCommandsTest, HtmlFileIsWrittenByteExactWithoutMark) {
  ScratchFolder out;
  const std::string html = "<p>\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4</p>\n";
  std::string answer =
      Run("{\"cmd\":\"cfp-0060\",\"session\":\"k\",\"pdu\":{\"html\":\"<p>"
          "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4</p>\\n\",\"filefullpath\":\"" +
          out / "k.HTM" + "\"}}");
  EXPECT_EQ(answer, "{\"cmd\":\"cfp-0060\",\"error\":0,\"pdu\":null,\"session\":\"k\"}\n");
  EXPECT_EQ(ReadFile(out / "k.HTM"), html);
  // The working folder was made under the system temp folder and is gone again.
  EXPECT_NE(log_.find("\n RemoveDirectory : [ " + temp_ / "TAVU/00000000 ]"), std::string::npos)
      << log_;
  EXPECT_EQ(Leftovers(temp_ / "TAVU"), 0);
}

TEST_F(SmallCommandsTest, HtmlFileOverwritesAndUsesTheExpandedTempPath) {
  ScratchFolder out;
  ScratchFolder base;
  WriteFile(out / "page.xhtml", "a much longer old content");
  Run("{\"cmd\":\"cfp-0060\",\"pdu\":{\"html\":\"new\",\"temppath\":\"" + base.path() +
      "\",\"filefullpath\":\"" + out / "page.xhtml" + "\"}}");
  EXPECT_EQ(request_.error, 0);
  EXPECT_EQ(ReadFile(out / "page.xhtml"), "new");
  EXPECT_NE(log_.find("RemoveDirectory : [ " + base / "TAVU/00000000 ]"), std::string::npos)
      << log_;
  EXPECT_EQ(Leftovers(base / "TAVU"), 0);
}

TEST_F(SmallCommandsTest, HtmlFileErrorNumbers) {
  ScratchFolder out;
  struct Row {
    std::string pdu;
    int error;
  } const rows[] = {
      {"{\"html\":\"<p>\",\"filefullpath\":\"" + out / "a.txt" + "\"}", 7},
      {"{\"html\":\"<p>\",\"filefullpath\":\"" + out / "html" + "\"}", 7},
      {"{\"html\":\"\",\"filefullpath\":\"" + out / "b.html" + "\"}", 5},
      {"{\"html\":\"<p>\",\"filefullpath\":\"" + out / "no/such/c.html" + "\"}", 5},
      {"{\"html\":\"<p>\",\"filefullpath\":\"" + out.path() + "\"}", 7},
      {"{\"html\":\"<p>\"}", 10000},
      {"{\"html\":null,\"filefullpath\":\"" + out / "d.html" + "\"}", 10000},
      {"{\"filefullpath\":\"" + out / "e.html" + "\"}", 10000},
      {"null", 10000},
  };
  for (const Row& row : rows) {
    std::string answer = Run("{\"cmd\":\"cfp-0060\",\"session\":\"e\",\"pdu\":" + row.pdu + "}");
    EXPECT_EQ(answer, "{\"cmd\":\"cfp-0060\",\"error\":" + std::to_string(row.error) +
                          ",\"pdu\":null,\"session\":\"e\"}\n")
        << row.pdu;
  }
  for (const char* name : {"a.txt", "html", "b.html", "d.html", "e.html"}) {
    EXPECT_FALSE(scratch::Exists(out / name)) << name;
  }
  EXPECT_EQ(Leftovers(temp_ / "TAVU"), 0);
}

TEST_F(SmallCommandsTest, HtmlFileWithoutUsableRootLeavesTheTempFolderAlone) {
  ScratchFolder out;
  WriteFile(temp_ / "TAVU", "a file where the root should be");
  WriteFile(temp_ / "unrelated.txt", "keep");
  Run("{\"cmd\":\"cfp-0060\",\"pdu\":{\"html\":\"<p>\",\"filefullpath\":\"" + out / "a.html" +
      "\"}}");
  EXPECT_EQ(request_.error, 0);
  EXPECT_EQ(ReadFile(out / "a.html"), "<p>");
  EXPECT_EQ(ReadFile(temp_ / "unrelated.txt"), "keep");
  EXPECT_EQ(log_, "doCMD [14]\n");
}

TEST_F(SmallCommandsTest, HtmlFileWrongTypesRaiseTheJsonErrorAndLeaveNoFolder) {
  ScratchFolder out;
  for (const std::string& pdu :
       {"{\"html\":1,\"filefullpath\":\"" + out / "a.html" + "\"}",
        std::string("{\"html\":\"x\",\"filefullpath\":[]}"),
        "{\"html\":\"x\",\"filefullpath\":\"" + out / "a.html" + "\",\"temppath\":5}"}) {
    CommandRequest request;
    request.Parse("{\"cmd\":\"cfp-0060\",\"pdu\":" + pdu + "}");
    try {
      doCMD(request, request.CommandCode());
      ADD_FAILURE() << "no error for " << pdu;
    } catch (const Json::LogicError& error) {
      EXPECT_STREQ(error.what(), "in Json::Value::asCString(): requires stringValue") << pdu;
    }
  }
  EXPECT_FALSE(scratch::Exists(out / "a.html"));
  EXPECT_EQ(Leftovers(temp_ / "TAVU"), 0);
}

TEST(IsHtmlFileNameTest, Table) {
  struct Row {
    const char* path;
    bool html;
  } const rows[] = {
      {"/x/a.html", true}, {"/x/a.HTM", true},   {"/x/a.XhTmL", true},
      {"a.htm", true},     {"/x/a.txt", false},  {"/x/a.html.txt", false},
      {"/x/html", false},  {"/x.html/a", false}, {"/x/a.htmlx", false},
      {"", false},
  };
  for (const Row& row : rows) EXPECT_EQ(IsHtmlFileName(row.path), row.html) << row.path;
}

TEST(SaveHtmlFileTest, ResetsTheErrorAndStopsAtTheFirstZeroByte) {
  ScratchFolder out;
  int32_t error = 123;
  EXPECT_TRUE(SaveHtmlFile(std::string("ab\0cd", 5), out / "z.html", error));
  EXPECT_EQ(error, 0);
  EXPECT_EQ(ReadFile(out / "z.html"), "ab");
  EXPECT_TRUE(SaveHtmlFile("\xFF", out / "bad.html", error));  // sanitised, still written
  EXPECT_EQ(ReadFile(out / "bad.html"), "\xEF\xBF\xBD");
}

TEST(CleanupPduTest, BuilderWrapsThePayloadText) {
  CommandRequest request;
  std::vector<std::string> none;
  Json::Value extra;
  std::string payload = "<p>";
  PayloadInputs inputs{request, none, none, extra, payload, nullptr};
  Json::Value pdu = BuildPdu(8, inputs);
  EXPECT_EQ(pdu["cleanuphtml"].asString(), "<p>");
  EXPECT_TRUE(BuildPdu(14, inputs).isNull());
}

}  // namespace
