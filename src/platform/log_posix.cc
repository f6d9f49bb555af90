#include <unistd.h>

#include <cerrno>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "platform/log.h"
#include "platform/write_all.h"

namespace {

constexpr size_t kMaxQueuedLines = 4096;
constexpr size_t kMaxQueuedBytes = 4 << 20;
// How long Log waits for its own line before it treats the output as stalled.
constexpr std::chrono::milliseconds kWriteWait{100};

// Lines waiting for the one writer thread. Invariant: every queued line has a sequence number
// below or equal to queued_, and written_ counts the lines the writer has finished.
class LogQueue {
 public:
  void Push(std::string line) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!started_) {
      // Detached: at exit the writer may sit in a write that never returns; exit must not wait.
      std::thread([this] { Drain(); }).detach();
      started_ = true;
    }
    if (lines_.size() >= kMaxQueuedLines || bytes_ + line.size() > kMaxQueuedBytes) {
      ++dropped_;
      return;
    }
    uint64_t mine = Enqueue(std::move(line));
    if (stalled_) return;
    if (!done_.wait_for(lock, kWriteWait, [&] { return written_ >= mine; })) stalled_ = true;
  }

 private:
  uint64_t Enqueue(std::string line) {
    bytes_ += line.size();
    lines_.push_back(std::move(line));
    queued_cv_.notify_one();
    return ++queued_;
  }

  void Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      queued_cv_.wait(lock, [&] { return !lines_.empty(); });
      std::string line = std::move(lines_.front());
      lines_.pop_front();
      assert(bytes_ >= line.size());
      bytes_ -= line.size();
      lock.unlock();
      // Nowhere to report a broken output; the service keeps working.
      WriteAll(STDOUT_FILENO, line);
      lock.lock();
      ++written_;
      assert(written_ <= queued_);
      stalled_ = false;
      done_.notify_all();
      if (lines_.empty() && dropped_ > 0) {
        Enqueue("\n log lines dropped [" + std::to_string(dropped_) + "]\n");
        dropped_ = 0;
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable queued_cv_;
  std::condition_variable done_;
  std::deque<std::string> lines_;
  size_t bytes_ = 0;
  uint64_t queued_ = 0;
  uint64_t written_ = 0;
  uint64_t dropped_ = 0;
  bool stalled_ = false;
  bool started_ = false;
};

LogQueue& Queue() {
  // Never destroyed: the detached writer may still use it while the process exits.
  static LogQueue* queue = new LogQueue;
  return *queue;
}

}  // namespace

void Log(const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int needed = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (needed < 0) {
    va_end(again);
    return;
  }
  std::string text;
  if (static_cast<size_t>(needed) < sizeof small) {
    text.assign(small, static_cast<size_t>(needed));
  } else {
    text.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<size_t>(needed));
  }
  va_end(again);
  Queue().Push(std::move(text));
}
