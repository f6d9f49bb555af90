#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "platform/stop_signals.h"

namespace {

sigset_t StopSignalSet() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  return signals;
}

}  // namespace

void BlockStopSignals() {
  sigset_t signals = StopSignalSet();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

struct StopSignals::Watch {
  std::atomic<bool> ending{false};
  std::thread thread;
};

StopSignals::StopSignals(std::function<void()> on_stop) : watch_(std::make_unique<Watch>()) {
  Watch* watch = watch_.get();
  watch->thread = std::thread([watch, on_stop = std::move(on_stop)] {
    sigset_t signals = StopSignalSet();
    for (;;) {
      int signal = 0;
      if (sigwait(&signals, &signal) != 0 || watch->ending) return;
      on_stop();
    }
  });
}

StopSignals::~StopSignals() {
  // The watching thread is woken by a signal meant for it alone.
  watch_->ending = true;
  pthread_kill(watch_->thread.native_handle(), SIGTERM);
  watch_->thread.join();
}
