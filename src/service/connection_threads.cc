#include "service/connection_threads.h"

void ConnectionThreads::enqueue(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(fn));
    if (idle_ < jobs_.size() && threads_.size() < limit_) {
      threads_.emplace_back(&ConnectionThreads::Work, this);
    }
  }
  wake_.notify_one();
}

void ConnectionThreads::shutdown() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shutting_down_ = true;
    threads.swap(threads_);
  }
  wake_.notify_all();
  for (std::thread& thread : threads) thread.join();
}

void ConnectionThreads::Work() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++idle_;
      wake_.wait(lock, [this] { return !jobs_.empty() || shutting_down_; });
      --idle_;
      if (jobs_.empty()) return;  // shutting down, nothing left to serve
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
}
