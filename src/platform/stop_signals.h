#ifndef ORVO_PLATFORM_STOP_SIGNALS_H_
#define ORVO_PLATFORM_STOP_SIGNALS_H_

#include <functional>
#include <memory>

// SIGTERM (the session manager at logout, systemd) and SIGINT (Ctrl+C) as requests to stop,
// handled like any other stop request instead of ending the process where it stands.

// Blocks both signals in the calling thread and so in every thread started after it; programs
// the service starts get a clean signal mask. Call first thing in main, before any thread
// exists: a thread that does not block them could be handed one and end the process. Signals
// that come before a StopSignals watches are kept pending for it; after the last one is gone
// they are never acted on, so a clean exit stays clean.
void BlockStopSignals();

// While it lives, either signal calls on_stop on a thread of its own (once per signal).
class StopSignals {
 public:
  explicit StopSignals(std::function<void()> on_stop);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct Watch;
  std::unique_ptr<Watch> watch_;
};

#endif  // ORVO_PLATFORM_STOP_SIGNALS_H_
