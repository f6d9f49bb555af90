// The decode command in this process, with the built codec: an answer carries every part of the
// archive or answers an error and leaves nothing, whatever fails while the parts are read back.
#include <gtest/gtest.h>
#include <json/json.h>

#include <cerrno>
#include <string>

#include "mime/mime_codec_client.h"
#include "mime/mime_decode_command.h"
#include "protocol/command_request.h"
#include "protocol/command_table.h"
#include "protocol/file_records.h"
#include "support/failing_file_system.h"
#include "support/scratch_folder.h"

namespace {

using scratch::FailingFileSystem;

std::string DecodeWithBuiltCodec(CommandRequest& request) {
  return RunMimeDecodeCommand(request, MimeCodecClient(MIME_TEST_DIST_DIR));
}

const CommandEntry kEntries[] = {{2, DecodeWithBuiltCodec, BuildMimeDecodePdu}};

std::string Envelope(const std::string& picture_base64) {
  const std::string archive =
      "MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=\"b\"\r\n\r\n"
      "--b\r\nContent-Type: text/html; charset=utf-8\r\n"
      "Content-Location: file:///C:/p/page.htm\r\n\r\n<img src=\"a.png\"><img src=\"b.png\">\r\n"
      "--b\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n"
      "Content-Location: file:///C:/p/a.png\r\n\r\n" +
      picture_base64 +
      "\r\n"
      "--b\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n"
      "Content-Location: file:///C:/p/b.png\r\n\r\n" +
      picture_base64 + "\r\n--b--\r\n";
  Json::Value envelope;
  envelope["cmd"] = "cfp-0002";
  envelope["pdu"]["mimevalue"] = archive;
  return Json::FastWriter().write(envelope);
}

TEST(DecodeCommand, AnswersEveryPartOrAnErrorAndLeavesNothing) {
  InstallCommandTable(kEntries, 1);
  // Small parts reach the answer as the component wrote them; larger ones are read back,
  // unless the answer can quote their base64 text from the archive as it stands.
  const std::string small = Base64Encode(scratch::TinyPng());
  const std::string quoted = Base64Encode(std::string(50 * 1024, 'x'));
  std::string large = quoted;  // spelt otherwise: line feeds alone
  for (size_t at; (at = large.find('\r')) != std::string::npos;) large.erase(at, 1);
  const struct {
    const char* what;
    const std::string& picture;
    FailingFileSystem::Call call;
    const char* failing_end;
    int error;
    unsigned files;
    const std::string& answered;  // each file's base64 text in the answer
  } rows[] = {
      {"every part read back", large, FailingFileSystem::Call::kNone, "", 0, 2, quoted},
      {"one part unreadable", large, FailingFileSystem::Call::kRead, "b.png", 4, 0, quoted},
      {"every picture unreadable", large, FailingFileSystem::Call::kRead, ".png", 4, 0, quoted},
      {"small parts not read back", small, FailingFileSystem::Call::kRead, ".png", 0, 2, small},
      {"quoted parts not read back", quoted, FailingFileSystem::Call::kRead, ".png", 0, 2, quoted},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    scratch::ScratchFolder temp;
    scratch::TempDirOverride tmpdir(temp.path());
    FailingFileSystem failing(row.call, EIO, row.failing_end);
    CommandRequest request;
    ASSERT_TRUE(request.Parse(Envelope(row.picture)));
    Json::Value answer;
    ASSERT_TRUE(Json::Reader().parse(doCMD(request, request.CommandCode()), answer));
    EXPECT_EQ(answer["error"].asInt(), row.error);
    EXPECT_EQ(answer["pdu"]["files"].size(), row.files);
    for (const Json::Value& file : answer["pdu"]["files"]) {
      EXPECT_TRUE(file["base64string"].asString() == row.answered) << file["filename"];
    }
    EXPECT_EQ(answer["pdu"]["html"].asString().empty(), row.files == 0);
    EXPECT_EQ(scratch::CountEntries(temp / "TAVU"), 0);
  }
  InstallCommandTable(nullptr, 0);
}

// The archive as a large member of a raw body: its bytes reach the reader as they stand.
std::string RawEnvelope(const std::string& page) {
  std::string archive =
      "MIME-Version: 1.0\\r\\nContent-Type: text/html; charset=utf-8\\r\\n\\r\\n" + page;
  return R"({"cmd":"cfp-0002","pdu":{"mimevalue":")" + archive + "\"}}";
}

// Only an archive that is all ASCII skips the UTF-8 check; one that is not valid UTF-8 is
// still made valid before the component reads it.
TEST(DecodeCommand, ArchiveTextIsValidUtf8WhateverItsBytes) {
  InstallCommandTable(kEntries, 1);
  const struct {
    std::string page, html;
  } rows[] = {{"<p>plain</p>", "<p>plain</p>"},
              {"<p>caf\xC3\xA9</p>", "<p>caf\xC3\xA9</p>"},
              {"<p>caf\\u00e9</p>", "<p>caf\xC3\xA9</p>"},
              {"<p>caf\xE9</p>", "<p>caf\xEF\xBF\xBD</p>"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.page);
    scratch::ScratchFolder temp;
    scratch::TempDirOverride tmpdir(temp.path());
    CommandRequest request;
    ASSERT_TRUE(request.Parse(RawEnvelope(row.page)));
    Json::Value answer;
    ASSERT_TRUE(Json::Reader().parse(doCMD(request, request.CommandCode()), answer));
    EXPECT_EQ(answer["pdu"]["html"].asString(), row.html);
  }
  InstallCommandTable(nullptr, 0);
}

}  // namespace
