#ifndef ORVO_SERVICE_CONNECTION_THREADS_H_
#define ORVO_SERVICE_CONNECTION_THREADS_H_

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The task queue the server hands accepted connections to. The library's own pool has a fixed
// number of threads (eight on small machines), and each connection holds one for its whole
// life: eight requests waiting on a program or a slow download left GET "/stop" and the version
// command unanswered. Here a connection that finds no idle thread gets a new one, up to limit;
// threads stay for later connections. Only past limit do connections wait in line.
//
// enqueue is called by the accepting thread; shutdown runs every queued connection to its end
// and joins the threads. Thread-safe.
class ConnectionThreads : public httplib::TaskQueue {
 public:
  explicit ConnectionThreads(size_t limit) : limit_(limit) {}
  ~ConnectionThreads() override { shutdown(); }

  void enqueue(std::function<void()> fn) override;
  void shutdown() override;

 private:
  void Work();

  const size_t limit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::thread> threads_;
  size_t idle_ = 0;
  bool shutting_down_ = false;
};

#endif  // ORVO_SERVICE_CONNECTION_THREADS_H_
