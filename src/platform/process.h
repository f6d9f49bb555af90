#ifndef ORVO_PLATFORM_PROCESS_H_
#define ORVO_PLATFORM_PROCESS_H_

#include <chrono>
#include <string>
#include <vector>

// Starting external programs (the WebP decoder, the word processor, the math editor).
//
// A program is always started from an argument vector, never from one command line: a path
// with blanks stays one argument. argv[0] is looked up on PATH unless it contains a '/'.

enum class ChildOutput {
  kDiscard,  // The child's standard output goes to /dev/null, so it never mixes with our log.
  kInherit,  // The child writes to our standard output.
};

struct ProcessOutcome {
  bool started = false;    // The program was found and its process created.
  bool exited = false;     // It ended on its own within the time limit.
  bool timed_out = false;  // It was still running at the limit; it has been killed and reaped.
  int exit_code = -1;      // Its exit status when it exited normally; -1 otherwise.

  bool Succeeded() const { return exited && exit_code == 0; }
};

// No time limit: wait until the program ends, however long that is.
inline constexpr std::chrono::milliseconds kNoTimeLimit{-1};

// Starts argv[0] with the arguments argv[1..] and waits for it to end, at most `timeout`
// (kNoTimeLimit waits without limit). A program still running at the limit is killed (SIGKILL)
// and reaped, so no zombie is left behind. The child's standard input is /dev/null; standard
// error is inherited; none of our other descriptors (sockets, files) reach the child.
// Thread-safe: concurrent calls each wait for their own child only.
ProcessOutcome RunAndWaitFor(const std::vector<std::string>& argv,
                             std::chrono::milliseconds timeout,
                             ChildOutput output = ChildOutput::kDiscard);

#endif  // ORVO_PLATFORM_PROCESS_H_
