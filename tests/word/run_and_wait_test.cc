#include "word/run_and_wait.h"
#include "word/program_window.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <regex>
#include <string>

#include "support/desktop.h"
#include "support/scratch_folder.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Environment for the stand-in program, restored afterwards.
class StandinEnvironment {
 public:
  StandinEnvironment(const std::string& actions, const std::string& title = "")
      : actions_("ORVO_STANDIN_ACTIONS", actions),
        title_("ORVO_STANDIN_TITLE", title),
        report_("ORVO_STANDIN_REPORT", folder_.Path("report")),
        args_("ORVO_STANDIN_ARGS_FILE", folder_.Path("args")) {}
  std::string Report() const { return scratch::ReadFile(folder_.Path("report")); }
  std::string Arguments() const { return scratch::ReadFile(folder_.Path("args")); }

 private:
  scratch::ScratchFolder folder_;
  scratch::EnvOverride actions_, title_, report_, args_;
};

int CountOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

TEST(RunAndWait, ProgramThatCannotStartReturnsFalseAtOnce) {
  auto start = steady_clock::now();
  EXPECT_EQ(RunAndWait({"orvo-no-such-program", "/tmp/a.html"}, "/tmp/a.html"),
            ProgramRun::kNotStarted);
  EXPECT_EQ(RunAndWait({}, ""), ProgramRun::kNotStarted);
  EXPECT_LT(steady_clock::now() - start, milliseconds(100));
}

TEST(RunAndWait, WithoutDisplayWaitsForTheProgramAndReapsIt) {
  scratch::EnvOverride no_display("DISPLAY", "");
  StandinEnvironment env("sleep,args");
  auto start = steady_clock::now();
  std::vector<std::string> argv{ORVO_STANDIN, "/tmp/a b/\"q\" é.html", "-new"};
  EXPECT_EQ(RunAndWait(argv, argv[1]), ProgramRun::kExited);
  EXPECT_GE(steady_clock::now() - start, milliseconds(300));
  EXPECT_EQ(env.Arguments(), "/tmp/a b/\"q\" é.html\n-new\n");
  // Nothing left to reap: the child is neither running nor a zombie.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(RunAndWait, ProgramThatExitsAtOnceEndsAfterOnePass) {
  StandinEnvironment env("");
  auto start = steady_clock::now();
  EXPECT_EQ(RunAndWait({ORVO_STANDIN}, ""), ProgramRun::kExited);
  EXPECT_LT(steady_clock::now() - start, milliseconds(2000));
}

TEST(EditorPlacement, CentresAnEightBySixHundredWindow) {
  struct Row {
    int width, height, x, y;
  } rows[] = {
      {1920, 1040, 560, 220}, {1920, 1080, 560, 240}, {640, 480, 80, 60}, {700, 500, 50, 50}};
  for (const Row& row : rows) {
    EditorPlacement place = PlaceEditor(row.width, row.height);
    EXPECT_EQ(place.x, row.x) << row.width;
    EXPECT_EQ(place.y, row.y) << row.height;
    EXPECT_EQ(place.width, 800);
    EXPECT_EQ(place.height, 600);
  }
}

// The stand-in opens a real window; RunAndWait must bring it forward, with and without a
// window manager, and say how in the log.
struct FocusRow {
  desktop::WindowManager manager;
  std::string title;
  bool document_window;  // a title the document's window may carry
};

void PrintTo(const FocusRow& row, std::ostream* out) {
  *out << (row.manager == desktop::WindowManager::kNone ? "no manager, " : "openbox, ")
       << row.title;
}

class RunAndWaitFocus : public ::testing::TestWithParam<FocusRow> {};

TEST_P(RunAndWaitFocus, BringsTheStartedProgramsWindowForward) {
  const FocusRow& row = GetParam();
  if (row.manager == desktop::WindowManager::kOpenbox && !desktop::HasProgram("openbox")) {
    GTEST_SKIP() << "openbox is not installed";
  }
  desktop::Desktop screen(row.manager);
  ASSERT_TRUE(screen.ok());
  StandinEnvironment env("window", row.title);
  scratch::StdoutCapture log;
  // Started through a shell, so the window belongs to a descendant of the started process.
  ASSERT_EQ(RunAndWait({"sh", "-c", std::string(ORVO_STANDIN) + "; true"}, "/tmp/a b.html"),
            ProgramRun::kExited);
  std::string text = log.Text();
  EXPECT_EQ(env.Report().substr(0, 8), "focused ") << env.Report();
  // The document window is brought forward once and then left alone; any other window of the
  // process is brought forward again on each pass that finds it behind another.
  if (row.document_window) {
    EXPECT_EQ(CountOf(text, "\nMSWord Focus"), 1) << text;
    EXPECT_EQ(CountOf(text, "\nSetForegroundWindows"), 0) << text;
  } else {
    EXPECT_GE(CountOf(text, "\nSetForegroundWindows -1 : "), 1) << text;
    // The window id as eight upper-case hexadecimal digits.
    EXPECT_TRUE(
        std::regex_search(text, std::regex("\nSetForegroundWindows -1 : [0-9A-F]{8}($|\n)")))
        << text;
    EXPECT_EQ(CountOf(text, "\nMSWord Focus"), 0) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, RunAndWaitFocus,
    ::testing::Values(
        FocusRow{desktop::WindowManager::kNone, "a b.html - Word", true},
        FocusRow{desktop::WindowManager::kNone, "a b.html - LibreOffice Writer", true},
        FocusRow{desktop::WindowManager::kNone, "Some window", false},
        FocusRow{desktop::WindowManager::kOpenbox, "a b.html -제한된 보기 - Word", true},
        FocusRow{desktop::WindowManager::kOpenbox, "Some window", false}));

TEST(RunAndWaitEditor, PlacesTheMathEditorWindowInTheWorkArea) {
  desktop::Desktop screen;
  ASSERT_TRUE(screen.ok());
  StandinEnvironment env("window", kMathEditorTitle);
  ASSERT_EQ(RunAndWait({ORVO_STANDIN}, "/tmp/x.png"), ProgramRun::kExited);
  // 1920 x 1080 without panels: x = 960 - 400, y = 540 - 300.
  EXPECT_EQ(env.Report(), "focused 560 240 800 600");
}

}  // namespace
