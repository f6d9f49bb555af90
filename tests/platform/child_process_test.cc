#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "platform/process.h"
#include "support/scratch_folder.h"

namespace {

using std::chrono::milliseconds;

bool Alive(int pid) { return kill(pid, 0) == 0; }

TEST(Process, IsPolledUntilItEndsAndThenReaped) {
  std::unique_ptr<Process> process =
      Process::Start({"sh", "-c", "sleep 0.3; exit 7"}, ChildOutput::kDiscard);
  ASSERT_TRUE(process);
  EXPECT_FALSE(process->HasExited());
  EXPECT_EQ(process->exit_code(), -1);
  while (!process->HasExited()) std::this_thread::sleep_for(milliseconds(20));
  EXPECT_EQ(process->exit_code(), 7);
  // Reaped: no zombie is left with our id.
  EXPECT_FALSE(Alive(process->Id()));
  EXPECT_EQ(Process::Start({"orvo-no-such-program"}, ChildOutput::kDiscard), nullptr);
}

TEST(Process, DestroyingItLeavesTheChildRunning) {
  int pid = 0;
  {
    std::unique_ptr<Process> process = Process::Start({"sleep", "30"}, ChildOutput::kDiscard);
    ASSERT_TRUE(process);
    pid = process->Id();
  }
  EXPECT_TRUE(Alive(pid));
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST(ProcessAndDescendants, FollowsChildrenAndGrandchildren) {
  // sh starts a subshell, which starts sleep: a grandchild.
  std::unique_ptr<Process> process =
      Process::Start({"sh", "-c", "(sleep 30; true) & wait"}, ChildOutput::kDiscard);
  ASSERT_TRUE(process);
  std::vector<int> family;
  for (int i = 0; i < 100 && family.size() < 3; ++i) {
    std::this_thread::sleep_for(milliseconds(20));
    family = ProcessAndDescendants(process->Id());
  }
  ASSERT_EQ(family.size(), 3u);
  EXPECT_EQ(family[0], process->Id());
  EXPECT_EQ(std::count(family.begin(), family.end(), getpid()), 0);
  for (int pid : family) kill(pid, SIGKILL);
  process->WaitForExit();
  EXPECT_EQ(ProcessAndDescendants(999999999), std::vector<int>{999999999});
}

TEST(FindProgram, LooksOnPathOnlyForBareNames) {
  scratch::ScratchFolder folder;
  const std::string tool = folder / "orvo tool";
  scratch::WriteFile(tool, "#!/bin/sh\n");
  chmod(tool.c_str(), 0755);
  const std::string plain = folder / "plain";
  scratch::WriteFile(plain, "text");
  scratch::EnvOverride path("PATH", "/nonexistent::" + folder.path());
  struct Row {
    std::string name, found;
  } rows[] = {
      {"orvo tool", tool}, {"plain", ""},  // not executable
      {tool, tool},        {folder / "missing", ""},
      {"sh", ""},          {"", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(FindProgram(row.name), row.found) << row.name;
}

}  // namespace
