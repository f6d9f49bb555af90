#ifndef ORVO_WORD_RUN_AND_WAIT_H_
#define ORVO_WORD_RUN_AND_WAIT_H_

#include <chrono>
#include <string>
#include <vector>

// Starting a desktop program for the user and waiting until the user is done with it.

// Timing of the wait loop.
struct WaitTiming {
  int focus_passes = 20;                       // focus attempts at most
  std::chrono::milliseconds focus_pause{100};  // after each focus attempt
  std::chrono::milliseconds poll_pause{100};   // before each look at the process
};

enum class ProgramRun {
  kNotStarted,  // the program could not be started; no window was touched
  kExited,      // it ran and has exited
  kAbandoned,   // the service is stopping (AbandonProgramWaits); the program still runs
};

// Starts argv (argv[0] looked up on PATH unless it holds a '/'; every element one argument,
// never split at blanks), then, until the process has ended:
//  - places the math editor's window once it appears (ProgramWindows::PlaceEditorOnce);
//  - makes at most timing.focus_passes focus passes for the document window of document_path
//    (ProgramWindows::FocusPass), pausing timing.focus_pause after each;
//  - polls the process every timing.poll_pause.
// Without a display there is no window work; the wait happens all the same. The process is
// never killed, and is reaped when it ends. No overall time limit. Thread-safe: each call waits
// for its own process. At most four calls wait at once: a further one starts nothing, logs
// why and returns kNotStarted at once.
ProgramRun RunAndWait(const std::vector<std::string>& argv, const std::string& document_path,
                      const WaitTiming& timing = WaitTiming());

// Makes every RunAndWait, running or still to come, return kAbandoned at its next poll, so that
// a stopping service does not wait for programs the user may keep open for hours. Their callers
// leave the program and its files alone: the user may still be working on them. Thread-safe;
// cannot be undone.
void AbandonProgramWaits();

#endif  // ORVO_WORD_RUN_AND_WAIT_H_
