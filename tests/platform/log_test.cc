#include "platform/log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_folder.h"

namespace {

TEST(Log, FormatsLikePrintf) {
  scratch::StdoutCapture out;
  Log("doCMD [%d]\n", 15);
  Log("\n DeleteFile : [ %s ]", "/tmp/TAVU/00000001/a.png");
  EXPECT_EQ(out.Text(), "doCMD [15]\n\n DeleteFile : [ /tmp/TAVU/00000001/a.png ]");
}

TEST(Log, LongLinesOfConcurrentThreadsNeverInterleave) {
  scratch::StdoutCapture out;
  const int kThreads = 8, kLines = 200, kWidth = 5000;  // Wider than any stdio buffer.
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      std::string line(kWidth, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) Log("%s\n", line.c_str());
    });
  }
  for (auto& thread : threads) thread.join();
  std::istringstream lines(out.Text());
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    ASSERT_EQ(line.size(), static_cast<size_t>(kWidth)) << count;
    ASSERT_EQ(line.find_first_not_of(line[0]), std::string::npos) << count;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

// Standard output is a full pipe that nobody reads: Log must still return at once, keep as many
// lines as its queue holds, and report how many it dropped once the reader catches up.
TEST(Log, NeverBlocksOnAStuckOutputAndCountsWhatItDrops) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
  std::string filler(4096, 'x');
  while (::write(ends[1], filler.data(), filler.size()) > 0) {
  }
  ::fcntl(ends[1], F_SETFL, 0);  // Writes block again, as on a real pipe.
  int saved = ::dup(STDOUT_FILENO);
  ::dup2(ends[1], STDOUT_FILENO);

  const int kLines = 20000;
  auto logging = std::async(std::launch::async, [] {
    for (int i = 0; i < kLines; ++i) Log("line %d\n", i);
  });
  bool returned = logging.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  const bool returned_at_once = returned;  // reported once standard output is back

  // Now read, until the drop report arrives (or, when Log blocked, until it has finished).
  std::string text;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline || !returned) {
    pollfd readable{ends[0], POLLIN, 0};
    if (::poll(&readable, 1, 100) == 1) {
      char buffer[65536];
      ssize_t n = ::read(ends[0], buffer, sizeof buffer);
      if (n > 0) text.append(buffer, static_cast<size_t>(n));
    }
    if (!returned) {
      returned = logging.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    } else if (text.find("dropped [") != std::string::npos && text.back() == '\n') {
      break;
    }
  }
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  ::close(ends[0]);
  ::close(ends[1]);

  EXPECT_TRUE(returned_at_once) << "Log blocked on a stuck standard output";
  std::smatch report;
  ASSERT_TRUE(std::regex_search(text, report, std::regex("\n log lines dropped \\[(\\d+)\\]\n")));
  int kept = 0;
  for (size_t at = text.find("line "); at != std::string::npos; at = text.find("line ", at + 1)) {
    ++kept;
  }
  EXPECT_GT(kept, 0);
  EXPECT_EQ(kept + std::stoi(report[1]), kLines);
}

}  // namespace
