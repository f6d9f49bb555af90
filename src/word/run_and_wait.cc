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

// One focus pass; passes counts the attempts made.
void FocusPass(WindowSystem& windows, int pid, const std::vector<std::string>& titles,
               int& passes) {
  WindowId process_window = windows.FindWindowOfProcesses(ProcessAndDescendants(pid));
  WindowId foreground = windows.ForegroundWindow();
  WindowId document_window = FindDocumentWindow(windows, titles);
  if (document_window != 0 && document_window != foreground) {
    windows.Activate(document_window);
    Log("\nMSWord Focus");
    passes = kNoMorePasses;
    return;
  }
  if (process_window != 0 && foreground != 0 && process_window != foreground) {
    windows.Activate(process_window);
    Log("\nSetForegroundWindows -1 : %08X", process_window);
  }
  ++passes;
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
  std::unique_ptr<Process> process = Process::Start(argv, ChildOutput::kDiscard);
  if (!process) return ProgramRun::kNotStarted;
  std::unique_ptr<WindowSystem> windows = WindowSystem::Connect();
  const std::vector<std::string> titles = DocumentWindowTitles(document_path);
  WindowId editor = 0;
  int passes = 0;
  do {
    if (windows) {
      HandleEditorWindow(*windows, editor);
      if (passes < timing.focus_passes) {
        FocusPass(*windows, process->Id(), titles, passes);
        std::this_thread::sleep_for(timing.focus_pause);
      }
    }
    std::this_thread::sleep_for(timing.poll_pause);
    if (abandon_waits.load()) return ProgramRun::kAbandoned;
  } while (!process->HasExited());
  return ProgramRun::kExited;
}

void AbandonProgramWaits() { abandon_waits.store(true); }
