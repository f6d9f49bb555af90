#ifndef ORVO_WORD_RUN_AND_WAIT_H_
#define ORVO_WORD_RUN_AND_WAIT_H_

#include <chrono>
#include <string>
#include <vector>

// Starting a desktop program for the user and waiting until the user is done with it.

// The window titles looked for while a program runs, for a document path: the word
// processor's document window (Word, Word in protected view, LibreOffice Writer). name is the
// path's last component, extension included.
std::vector<std::string> DocumentWindowTitles(const std::string& document_path);

// The math editor's main window.
inline constexpr char kMathEditorTitle[] = "Quorin";

// Where the math editor's window goes: 800 x 600 at |width / 2 - 400|, |height / 2 - 300| of
// the work area (integer division).
struct EditorPlacement {
  int x, y, width, height;
};
EditorPlacement PlaceEditor(int work_area_width, int work_area_height);

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
//  - looks for a window titled "Quorin"; once found, activates it twice and places it (see
//    PlaceEditor); it is not looked for again;
//  - for at most timing.focus_passes passes: when a window with one of the titles of
//    DocumentWindowTitles(document_path) exists and is not the foreground window, activates it
//    and logs "\nMSWord Focus" (once), and makes no more passes once it is the foreground
//    window; otherwise, when a window of the process or of one of its descendants exists and
//    another window is in the foreground, activates it and logs
//    "\nSetForegroundWindows -1 : %08X" with its id;
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
