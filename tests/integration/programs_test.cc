// The word-processor round trip ("cfp-0020") and the math editor ("cfp-0050") against the real
// service, with stand-in programs: a "winword" first on PATH and an "Editor" beside the
// executable (tests/word/standin_program.cc).

#include <gtest/gtest.h>
#include <httplib.h>
#include <json/json.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "integration/service_fixture.h"
#include "support/scratch_folder.h"

namespace {

using scratch::ReadFile;
using scratch::ScratchFolder;
using scratch::WriteFile;

const char kPngBase64[] =
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8DwHwAFBQIAX8jx0gAAAABJRU5E"
    "rkJggg==";

using scratch::EnvOverride;

std::string Envelope(const std::string& cmd, const std::string& pdu) {
  return "{\"cmd\":\"" + cmd + "\",\"session\":\"it\",\"pdu\":" + pdu + "}";
}

Json::Value Parse(const std::string& text) {
  Json::Value value;
  Json::Reader().parse(text, value);
  return value;
}

// The service runs with a private TMPDIR (its request folders can be counted), no display, and
// the stand-in's steps read from a file the test writes before each request.
class ProgramsTest : public service_test::RunningServiceTest {
 protected:
  Json::Value Post(const std::string& cmd, const std::string& pdu) {
    auto res = service_.Client()->Post("/", Envelope(cmd, pdu), "text/plain");
    if (!res || res->status != 200) return Json::Value();
    body_ = res->body;
    return Parse(res->body);
  }
  void Steps(const std::string& steps) { WriteFile(control_ / "steps", steps); }
  int RequestFoldersLeft() const { return scratch::CountEntries(temp_ / "TAVU"); }
  std::vector<std::string> Arguments() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(control_ / "args"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  ScratchFolder temp_;
  ScratchFolder control_;
  ScratchFolder bin_;
  scratch::TempDirOverride tmpdir_{temp_.path()};
  EnvOverride no_display_{"DISPLAY", ""};
  EnvOverride steps_{"ORVO_STANDIN_ACTIONS", "@" + control_ / "steps"};
  EnvOverride args_{"ORVO_STANDIN_ARGS_FILE", control_ / "args"};
  EnvOverride report_{"ORVO_STANDIN_REPORT", control_ / "pid"};
  std::string body_;
};

// "winword" is the stand-in, first on PATH.
class UpdateHtmlTest : public ProgramsTest {
 protected:
  UpdateHtmlTest() { symlink(ORVO_STANDIN, (bin_ / "winword").c_str()); }
  EnvOverride path_{"PATH", bin_.path() + ":" + getenv("PATH")};
};

const std::string kPage = std::string("{\"html\":\"<html><head></head><body><p>a</p>\\n<img src=") +
                          "\\\"data:image/png;base64," + kPngBase64 + "\\\"></body></html>\"}";

struct UpdateRow {
  std::string steps;
  int isupdate;
  std::string text_end;  // how "updatedhtml" ends
  int files;             // -1: no "files" member
};

TEST_F(UpdateHtmlTest, AnswersWhatTheWordProcessorLeft) {
  const UpdateRow rows[] = {
      {"", 0, "</body></html>", -1},  // closed without saving
      {"edit", 1, "<p>edited</p>", 1},
      // Saved within the same second, same size, time put back: the content tells.
      {"same-second", 1, "/body>\x01", 1},
      {"utf16", 1, "<p>\xC3\xA9\xE4\xB8\xAD</p>", 1},
      {"edit,picture", 1, "<p>edited</p>", 2},
      {"edit,lo-picture", 1, "<p>edited</p>", 2},
      {"picture", 0, "</body></html>", -1},  // pictures without a save are not returned
      {"delete", 1, "", -1},
  };
  for (const UpdateRow& row : rows) {
    Steps("args," + row.steps);
    Json::Value answer = Post("cfp-0020", kPage);
    Json::Value pdu = answer["pdu"];
    std::string text = pdu["updatedhtml"].asString();
    EXPECT_EQ(answer["error"], -1) << row.steps;
    EXPECT_EQ(pdu["isupdate"], row.isupdate) << row.steps;
    if (row.text_end == "/body>\x01") {
      EXPECT_EQ(text.find("</body>"), std::string::npos) << text;  // x and y swapped
    } else if (row.text_end.empty()) {
      EXPECT_EQ(text, "");
    } else {
      ASSERT_GE(text.size(), row.text_end.size()) << row.steps;
      EXPECT_EQ(text.substr(text.size() - row.text_end.size()), row.text_end) << row.steps;
    }
    EXPECT_EQ(pdu.isMember("files") ? static_cast<int>(pdu["files"].size()) : -1, row.files)
        << row.steps << body_;
    // The program got the document as one argument, then "-new".
    std::vector<std::string> args = Arguments();
    ASSERT_EQ(args.size(), 2u) << row.steps;
    EXPECT_EQ(args[1], "-new");
    EXPECT_EQ(args[0].rfind(temp_ / "TAVU/", 0), 0u) << args[0];
    EXPECT_EQ(RequestFoldersLeft(), 0) << row.steps;
  }
}

TEST_F(UpdateHtmlTest, ThePageReachesTheProgramWithItsImagesCutOut) {
  Steps("args");
  Json::Value pdu = Post("cfp-0020", kPage)["pdu"];
  std::string text = pdu["updatedhtml"].asString();
  EXPECT_EQ(text.find("data:"), std::string::npos) << text;
  EXPECT_NE(text.find(".files/"), std::string::npos) << text;
  EXPECT_NE(text.find("<p>a</p>\r\n<img"), std::string::npos) << text;
}

// A page the engine refuses (tags too dense for its memory budget) is not emptied on its way.
TEST_F(UpdateHtmlTest, APageTooLargeForTheEngineReachesTheProgramAsItStands) {
  Steps("args");
  std::string page = std::string("<img src=\"data:image/png;base64,") + kPngBase64 + "\">";
  for (int i = 0; i < 1500000; ++i) page += "<p>";
  Json::Value pdu =
      Post("cfp-0020", "{\"html\":" + Json::FastWriter().write(Json::Value(page)) + "}")["pdu"];
  EXPECT_EQ(pdu["isupdate"], 0);
  EXPECT_TRUE(pdu["updatedhtml"].asString() == page) << pdu["updatedhtml"].asString().size();
}

TEST_F(UpdateHtmlTest, NonStringHtmlCountsAsEmpty) {
  Steps("args,edit");
  Json::Value pdu = Post("cfp-0020", "{\"html\":12345,\"temppath\":null}")["pdu"];
  EXPECT_EQ(pdu["updatedhtml"], "<p>edited</p>");
  EXPECT_EQ(pdu["isupdate"], 1);
}

TEST_F(UpdateHtmlTest, TempPathWithBlanksQuotesAndNonAsciiStaysOneArgument) {
  ScratchFolder base;
  const std::string odd = base / "a b \"q\" \xED\x95\x9C";
  std::filesystem::create_directory(odd);
  Steps("args,edit");
  Json::Value pdu = Post("cfp-0020", "{\"html\":\"<p>x</p>\",\"temppath\":" +
                                         Json::FastWriter().write(Json::Value(odd)) + "}")["pdu"];
  EXPECT_EQ(pdu["isupdate"], 1);
  std::vector<std::string> args = Arguments();
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(args[0].rfind(odd + "/TAVU/", 0), 0u) << args[0];
  EXPECT_EQ(scratch::CountEntries(odd + "/TAVU"), 0);
}

TEST_F(UpdateHtmlTest, StopEndsTheServiceAndLeavesTheProgramRunning) {
  Steps("pid,hold");
  auto request = std::async(std::launch::async, [this] {
    return service_.Client()->Post("/", Envelope("cfp-0020", kPage), "text/plain");
  });
  std::string pid;
  for (int i = 0; i < 100 && pid.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pid = ReadFile(control_ / "pid");
  }
  ASSERT_FALSE(pid.empty());
  service_.Client()->Get("/stop");
  EXPECT_EQ(service_.WaitForExit(5000), 0);
  request.wait();
  EXPECT_EQ(kill(std::stoi(pid), 0), 0) << "the program was ended with the service";
  kill(std::stoi(pid), SIGKILL);
  // Its document stays for it.
  EXPECT_EQ(RequestFoldersLeft(), 1);
}

// Neither "winword" nor LibreOffice on PATH.
class NoWordProcessorTest : public ProgramsTest {
 protected:
  EnvOverride path_{"PATH", bin_.path()};
};

// Neither program can start (no "Editor" beside the service either): error 0, nothing left over.
TEST_F(NoWordProcessorTest, ProgramThatCannotStartAnswersErrorZero) {
  const struct {
    std::string cmd, pdu, body;
  } rows[] = {
      {"cfp-0020", kPage,
       "{\"cmd\":\"cfp-0020\",\"error\":0,\"pdu\":{\"isupdate\":0,\"updatedhtml\":\"\"},"
       "\"session\":\"it\"}\n"},
      {"cfp-0050", "{\"uuid\":\"u1\"}",
       "{\"cmd\":\"cfp-0050\",\"error\":0,\"pdu\":{\"isupdate\":0,\"key\":null,\"type\":1,"
       "\"uuid\":\"u1\"},\"session\":\"it\"}\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.cmd);
    Post(row.cmd, row.pdu);
    EXPECT_EQ(body_, row.body);
    EXPECT_EQ(RequestFoldersLeft(), 0);
  }
}

// "Editor" is the stand-in, beside the service executable.
class MathObjectTest : public ProgramsTest {
 protected:
  void SetUp() override {
    ProgramsTest::SetUp();
    std::filesystem::copy_file(ORVO_STANDIN, service_.folder() + "Editor");
  }
};

struct MathRow {
  std::string medfile;  // empty: a new formula
  std::string steps;
  int isupdate;
  bool document_record, picture_record;
};

TEST_F(MathObjectTest, AnswersWhatTheEditorSaved) {
  const MathRow rows[] = {
      {"", "med,png", 1, true, true},
      {"", "png", 1, false, true},  // a new formula with only its picture
      {"", "", 0, false, false},    // closed without saving
      {"TUVEMA==", "", 0, false, false},
      {"TUVEMA==", "med,png", 1, true, true},  // saved within the second it was written
      {"TUVEMA==", "med", 0, false, false},    // no picture
  };
  for (const MathRow& row : rows) {
    Steps("args," + row.steps);
    std::string math = row.medfile.empty() ? "null" : "{\"medfile\":\"" + row.medfile + "\"}";
    Json::Value answer = Post("cfp-0050", "{\"mathobject\":" + math + ",\"uuid\":\"u-7\"}");
    Json::Value pdu = answer["pdu"];
    std::string label = row.medfile + "/" + row.steps;
    EXPECT_EQ(answer["error"], -1) << label;
    EXPECT_EQ(pdu["type"], 1);
    EXPECT_EQ(pdu["uuid"], "u-7");
    EXPECT_TRUE(pdu.isMember("key") && pdu["key"].isNull()) << body_;
    EXPECT_EQ(pdu["isupdate"], row.isupdate) << label;
    EXPECT_EQ(pdu.isMember("mathobject"), row.document_record) << label << body_;
    EXPECT_EQ(pdu.isMember("files"), row.picture_record) << label << body_;
    if (row.document_record) {
      EXPECT_EQ(pdu["mathobject"][0]["medfile"], "TUVEMQ==\r\n");
    }
    if (row.picture_record) {
      EXPECT_EQ(pdu["files"][0]["base64string"].asString().substr(0, 8), "iVBORw0K");
    }
    std::vector<std::string> args = Arguments();
    ASSERT_EQ(args.size(), 4u) << label;
    EXPECT_EQ(args[0], "__ZORVANE__QUORIN__");
    EXPECT_EQ(args[1].rfind("medfile=" + temp_ / "TAVU/", 0), 0u) << args[1];
    EXPECT_EQ(args[1].substr(args[1].size() - 4), ".med");
    EXPECT_EQ(args[2].rfind("output=" + temp_ / "TAVU/", 0), 0u) << args[2];
    EXPECT_EQ(args[3], "-new");
    EXPECT_EQ(RequestFoldersLeft(), 0) << label;
  }
}

// Six editors kept open: four requests wait for theirs, the other two are answered at once as
// if their editor could not start; the version command and "/stop" answer meanwhile.
TEST_F(MathObjectTest, AtMostFourProgramWaitsAndShortRequestsStillAnswer) {
  std::string six_seconds = "sleep";
  for (int i = 1; i < 20; ++i) six_seconds += ",sleep";
  Steps(six_seconds);
  std::vector<std::future<std::string>> waits;
  for (int i = 0; i < 6; ++i) {
    waits.push_back(std::async(std::launch::async, [this] {
      auto res =
          service_.Client()->Post("/", Envelope("cfp-0050", "{\"uuid\":\"u\"}"), "text/plain");
      return res ? res->body : std::string();
    }));
  }
  auto start = std::chrono::steady_clock::now();
  int not_started = 0;
  for (auto& wait : waits) {
    if (wait.wait_until(start + std::chrono::seconds(3)) != std::future_status::ready) continue;
    EXPECT_NE(wait.get().find("\"error\":0,"), std::string::npos);
    ++not_started;
  }
  EXPECT_EQ(not_started, 2);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(Post("cfp-1000", "{}")["error"], -1);
  EXPECT_TRUE(service_.Client()->Get("/stop"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_NE(service_.Output().find("program not started: 4 programs are waited for already"),
            std::string::npos);
}

TEST(MathEditorBesideTheService, IsFoundInAFolderWithBlanks) {
  ScratchFolder temp, control;
  scratch::TempDirOverride tmpdir(temp.path());
  EnvOverride steps("ORVO_STANDIN_ACTIONS", "args,med,png");
  EnvOverride args("ORVO_STANDIN_ARGS_FILE", control / "args");
  service_test::ServiceProcess service(service_test::ServiceProcess::Certificate::kValid,
                                       "a b \xED\x95\x9C");
  std::filesystem::copy_file(ORVO_STANDIN, service.folder() + "Editor.exe");
  ASSERT_TRUE(service.Start());
  auto res = service.Client()->Post("/", Envelope("cfp-0050", "{\"uuid\":7}"), "text/plain");
  ASSERT_TRUE(res);
  EXPECT_EQ(Parse(res->body)["pdu"]["isupdate"], 1) << res->body;
  EXPECT_EQ(Parse(res->body)["pdu"]["uuid"], 7) << res->body;
  EXPECT_NE(ReadFile(control / "args").find("__ZORVANE__QUORIN__\n"), std::string::npos);
  service.Client()->Get("/stop");
  EXPECT_EQ(service.WaitForExit(10000), 0);
}

}  // namespace
