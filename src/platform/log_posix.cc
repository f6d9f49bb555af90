#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/log.h"
#include "platform/write_all.h"

namespace {

constexpr size_t kMaxQueuedLines = 4096;
constexpr size_t kMaxQueuedBytes = 4 << 20;
// How long Log waits for its own line before it treats the output as stalled. On a busy
// machine the writer thread may go unscheduled for a good part of a second; a shorter wait
// took that for a stall and dropped lines, or let an answer overtake its command's lines.
constexpr std::chrono::milliseconds kWriteWait{1000};

// Lines waiting for the one writer thread, which takes every queued line at once and writes
// them with one write, in order. Invariant: queued_ counts every line ever queued and written_
// those the writer has finished; a line is never split between writes of different batches.
class LogQueue {
 public:
  void Push(std::string line, size_t lines = 1) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!started_) {
      // Detached: at exit the writer may sit in a write that never returns; exit must not wait.
      std::thread([this] { Drain(); }).detach();
      started_ = true;
    }
    // Only a full queue makes the caller wait, and only while the output keeps up.
    auto fits = [&] {
      return lines_.size() < kMaxQueuedLines && bytes_ + line.size() <= kMaxQueuedBytes;
    };
    if (!fits() && (stalled_ || !room_.wait_for(lock, kWriteWait, fits))) {
      stalled_ = true;
      dropped_ += lines;
      return;
    }
    Enqueue(std::move(line));
  }

  // Waits until the lines queued so far are written, unless the output has stalled.
  void Flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    uint64_t mine = queued_;
    if (stalled_ || written_ >= mine) return;
    if (!done_.wait_for(lock, kWriteWait, [&] { return written_ >= mine; })) stalled_ = true;
  }

 private:
  void Enqueue(std::string line) {
    bytes_ += line.size();
    lines_.push_back(std::move(line));
    ++queued_;
    // A writer that is busy takes this line with its next batch: no hand-off per line.
    if (writer_waiting_) queued_cv_.notify_one();
  }

  void Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    std::vector<std::string> batch;
    std::string text;
    for (;;) {
      writer_waiting_ = true;
      queued_cv_.wait(lock, [&] { return !lines_.empty(); });
      writer_waiting_ = false;
      batch.assign(std::make_move_iterator(lines_.begin()), std::make_move_iterator(lines_.end()));
      lines_.clear();
      bytes_ = 0;
      room_.notify_all();
      lock.unlock();
      text.clear();
      for (const std::string& line : batch) text += line;
      // Nowhere to report a broken output; the service keeps working.
      WriteAll(STDOUT_FILENO, text);
      lock.lock();
      written_ += batch.size();
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
  std::condition_variable room_;
  std::condition_variable done_;
  std::deque<std::string> lines_;
  size_t bytes_ = 0;
  uint64_t queued_ = 0;
  uint64_t written_ = 0;
  uint64_t dropped_ = 0;
  bool stalled_ = false;
  bool started_ = false;
  bool writer_waiting_ = false;
};

LogQueue& Queue() {
  // Never destroyed: the detached writer may still use it while the process exits.
  static LogQueue* queue = [] {
    // Lines logged just before the process exits are written before it goes.
    std::atexit([] { FlushLog(); });
    return new LogQueue;
  }();
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

void LogLines(std::string text, size_t lines) {
  if (!text.empty()) Queue().Push(std::move(text), lines);
}

void FlushLog() { Queue().Flush(); }
