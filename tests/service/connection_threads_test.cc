#include "service/connection_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Connections that hold their thread: each new one gets a thread of its own up to the limit,
// and only the ones past it wait for a thread to come free.
TEST(ConnectionThreads, BusyThreadsMakeRoomUpToTheLimit) {
  struct Row {
    size_t limit;
    int connections;
    int running_at_once;
  } const rows[] = {{8, 12, 8}, {16, 12, 12}, {1, 3, 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.limit);
    std::atomic<int> running{0};
    std::atomic<bool> release{false};
    ConnectionThreads threads(row.limit);
    for (int i = 0; i < row.connections; ++i) {
      threads.enqueue([&] {
        ++running;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(running.load(), row.running_at_once);
    release = true;
    threads.shutdown();
    EXPECT_EQ(running.load(), row.connections);  // the waiting ones were served before the end
  }
}

}  // namespace
