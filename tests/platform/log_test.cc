#include "platform/log.h"

#include <gtest/gtest.h>

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

}  // namespace
