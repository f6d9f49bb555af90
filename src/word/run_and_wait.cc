#include "word/run_and_wait.h"

#include <atomic>
#include <memory>
#include <thread>

#include "platform/process.h"
#include "platform/window_system.h"
#include "word/program_window.h"

namespace {

std::atomic<bool> abandon_waits{false};

}  // namespace

ProgramRun RunAndWait(const std::vector<std::string>& argv, const std::string& document_path,
                      const WaitTiming& timing) {
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
