#ifndef ORVO_PLATFORM_PROCESS_H_
#define ORVO_PLATFORM_PROCESS_H_

#include <chrono>
#include <memory>
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

// A started child process, polled for its end. Made by Start; the process is reaped by the
// HasExited or WaitForExit that sees it end. Destroying a Process whose child still runs
// leaves the child running (a program the user works in is never killed by us); once it ends,
// the system collects it when the service has exited. Not thread-safe: one thread polls one
// Process.
class Process {
 public:
  // Starts argv[0] with the arguments argv[1..] (the descriptors as RunAndWaitFor below sets
  // them up). Null when argv is empty or the program cannot be found or started.
  static std::unique_ptr<Process> Start(const std::vector<std::string>& argv, ChildOutput output);

  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // The child's process id.
  int Id() const { return id_; }

  // True once the child has ended (reaped; exit_code() is then known). Does not block.
  bool HasExited();

  // Blocks until the child has ended and reaps it.
  void WaitForExit();

  // Kills a child that is still running (SIGKILL) and reaps it.
  void Kill();

  // The exit status when the child ended normally; -1 while running or after a signal.
  int exit_code() const { return exit_code_; }
  bool exited() const { return exited_; }

 private:
  explicit Process(int id) : id_(id) {}
  void Record(int status);

  int id_;
  bool exited_ = false;
  int exit_code_ = -1;
};

// The id of pid and of every process descending from it (children, their children ...), pid
// first. Only pid when the process table cannot be read.
std::vector<int> ProcessAndDescendants(int pid);

// Ends every process of this user whose argument list holds argument as one whole argument:
// SIGTERM, then SIGKILL for those still running after grace. Returns how many there were.
int EndProcessesWithArgument(const std::string& argument, std::chrono::milliseconds grace);

// The full path of the executable file name would start as argv[0]: name itself when it holds a
// '/', else the first match in the folders of $PATH. Empty when there is none.
std::string FindProgram(const std::string& name);

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
