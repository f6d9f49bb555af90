#include "word/run_and_wait.h"

#include <atomic>
#include <memory>
#include <thread>

#include "platform/log.h"
#include "platform/process.h"
#include "platform/window_system.h"
#include "word/program_window.h"

namespace {

std::atomic<bool> abandon_waits{false};

// Each wait holds a connection for as long as the user keeps the program open: past this many
// at once, a request is answered as if its program could not be started, and connections stay
// free for everyone else.
constexpr int kProgramWaitLimit = 4;
std::atomic<int> program_waits{0};

// One of the kProgramWaitLimit places, held while a program is waited for.
class WaitPlace {
 public:
  WaitPlace() : taken_(program_waits.fetch_add(1) < kProgramWaitLimit) {
    if (!taken_) program_waits.fetch_sub(1);
  }
  ~WaitPlace() {
    if (taken_) program_waits.fetch_sub(1);
  }
  WaitPlace(const WaitPlace&) = delete;
  WaitPlace& operator=(const WaitPlace&) = delete;
  bool taken() const { return taken_; }

 private:
  const bool taken_;
};

}  // namespace

ProgramRun RunAndWait(const std::vector<std::string>& argv, const std::string& document_path,
                      const WaitTiming& timing) {
  WaitPlace place;
  if (!place.taken()) {
    Log("program not started: %d programs are waited for already\n", kProgramWaitLimit);
    return ProgramRun::kNotStarted;
  }
  std::unique_ptr<Process> process = Process::Start(argv, ChildOutput::kDiscard);
  if (!process) return ProgramRun::kNotStarted;
  std::unique_ptr<WindowSystem> windows = WindowSystem::Connect();
  std::unique_ptr<ProgramWindows> program_windows;
  if (windows) program_windows.reset(new ProgramWindows(*windows, process->Id(), document_path));
  do {
    if (program_windows) {
      program_windows->PlaceEditorOnce();
      if (program_windows->passes() < timing.focus_passes) {
        program_windows->FocusPass();
        std::this_thread::sleep_for(timing.focus_pause);
      }
    }
    std::this_thread::sleep_for(timing.poll_pause);
    if (abandon_waits.load()) return ProgramRun::kAbandoned;
  } while (!process->HasExited());
  return ProgramRun::kExited;
}

void AbandonProgramWaits() { abandon_waits.store(true); }
