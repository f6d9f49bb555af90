#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace {

using std::chrono::milliseconds;

TEST(RunAndWaitFor, ReportsExitCodes) {
  ProcessOutcome ok = RunAndWaitFor({"true"}, milliseconds(10000));
  EXPECT_TRUE(ok.started);
  EXPECT_TRUE(ok.exited);
  EXPECT_EQ(ok.exit_code, 0);
  EXPECT_TRUE(ok.Succeeded());

  ProcessOutcome three = RunAndWaitFor({"sh", "-c", "exit 3"}, kNoTimeLimit);
  EXPECT_TRUE(three.exited);
  EXPECT_EQ(three.exit_code, 3);
  EXPECT_FALSE(three.Succeeded());
}

TEST(RunAndWaitFor, MissingProgramIsNotStarted) {
  ProcessOutcome outcome = RunAndWaitFor({"orvo-no-such-program"}, milliseconds(1000));
  EXPECT_FALSE(outcome.started);
  EXPECT_FALSE(outcome.Succeeded());
  EXPECT_FALSE(RunAndWaitFor({}, milliseconds(1000)).started);
}

TEST(RunAndWaitFor, ArgumentsWithBlanksStayWhole) {
  ProcessOutcome outcome =
      RunAndWaitFor({"sh", "-c", "test \"$#\" = 2 && test \"$1\" = 'a b' && test \"$2\" = '-o c'",
                     "sh", "a b", "-o c"},
                    milliseconds(10000));
  EXPECT_TRUE(outcome.Succeeded());
}

TEST(RunAndWaitFor, KillsAndReapsAtTheTimeLimit) {
  auto start = std::chrono::steady_clock::now();
  ProcessOutcome outcome = RunAndWaitFor({"sleep", "30"}, milliseconds(200));
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(outcome.started);
  EXPECT_TRUE(outcome.timed_out);
  EXPECT_FALSE(outcome.exited);
  EXPECT_FALSE(outcome.Succeeded());
  EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(RunAndWaitFor, OurDescriptorsDoNotReachTheChild) {
  int fd = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
  ASSERT_GE(fd, 3);
  std::string probe = "test ! -e /proc/self/fd/" + std::to_string(fd);
  ProcessOutcome outcome = RunAndWaitFor({"sh", "-c", probe}, milliseconds(10000));
  close(fd);
  EXPECT_TRUE(outcome.Succeeded());
}

TEST(RunAndWaitFor, IgnoredSignalsAreRestoredInTheChild) {
  signal(SIGPIPE, SIG_IGN);
  // The child reads its own ignored-signal mask: SIGPIPE (13) is bit 0x1000.
  ProcessOutcome outcome = RunAndWaitFor(
      {"grep", "-qE", "^SigIgn:[[:space:]]+[0-9a-f]*[02468ace][0-9a-f]{3}$", "/proc/self/status"},
      milliseconds(10000));
  signal(SIGPIPE, SIG_DFL);
  EXPECT_TRUE(outcome.Succeeded());
}

}  // namespace
