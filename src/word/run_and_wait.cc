#include "word/run_and_wait.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

#include "platform/log.h"
#include "platform/process.h"
#include "platform/window_system.h"

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

// Focus passes end at once when the document window has been brought forward.
constexpr int kNoMorePasses = 31;

std::string LastComponent(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Brings the math editor's window forward and places it, once it has appeared.
void HandleEditorWindow(WindowSystem& windows, WindowId& editor) {
  if (editor != 0) return;
  editor = windows.FindWindowByTitle(kMathEditorTitle);
  if (editor == 0) return;
  windows.Activate(editor);
  windows.Activate(editor);
  ScreenArea work = windows.WorkArea();
  EditorPlacement place = PlaceEditor(work.width, work.height);
  windows.Place(editor, {place.x, place.y, place.width, place.height});
}

WindowId FindDocumentWindow(WindowSystem& windows, const std::vector<std::string>& titles) {
  for (const std::string& title : titles) {
    if (WindowId window = windows.FindWindowByTitle(title)) return window;
  }
  return 0;
}

struct FocusState {
  int passes = 0;                // focus attempts made
  bool document_raised = false;  // the document window was asked forward ("MSWord Focus")
};

// One focus pass. A window manager may ignore a request for a window it is still mapping, so
// the document window is asked again (without a second log line) until it has become the
// foreground window; only then do the passes end.
void FocusPass(WindowSystem& windows, int pid, const std::vector<std::string>& titles,
               FocusState& state) {
  WindowId process_window = windows.FindWindowOfProcesses(ProcessAndDescendants(pid));
  WindowId foreground = windows.ForegroundWindow();
  WindowId document_window = FindDocumentWindow(windows, titles);
  if (document_window != 0 && document_window != foreground) {
    windows.Activate(document_window);
    if (!state.document_raised) Log("\nMSWord Focus");
    state.document_raised = true;
    ++state.passes;
    return;
  }
  if (state.document_raised) {
    state.passes = kNoMorePasses;
    return;
  }
  if (process_window != 0 && foreground != 0 && process_window != foreground) {
    windows.Activate(process_window);
    Log("\nSetForegroundWindows -1 : %08X", process_window);
  }
  ++state.passes;
}

}  // namespace

std::vector<std::string> DocumentWindowTitles(const std::string& document_path) {
  std::string name = LastComponent(document_path);
  return {name + " - Word", name + " -제한된 보기 - Word", name + " - LibreOffice Writer"};
}

EditorPlacement PlaceEditor(int work_area_width, int work_area_height) {
  return {std::abs(work_area_width / 2 - 400), std::abs(work_area_height / 2 - 300), 800, 600};
}

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
  const std::vector<std::string> titles = DocumentWindowTitles(document_path);
  WindowId editor = 0;
  FocusState focus;
  do {
    if (windows) {
      HandleEditorWindow(*windows, editor);
      if (focus.passes < timing.focus_passes) {
        FocusPass(*windows, process->Id(), titles, focus);
        std::this_thread::sleep_for(timing.focus_pause);
      }
    }
    std::this_thread::sleep_for(timing.poll_pause);
    if (abandon_waits.load()) return ProgramRun::kAbandoned;
  } while (!process->HasExited());
  return ProgramRun::kExited;
}

void AbandonProgramWaits() { abandon_waits.store(true); }
