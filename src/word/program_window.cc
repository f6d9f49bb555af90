#include "word/program_window.h"

#include <cstdlib>

#include "platform/log.h"
#include "platform/process.h"
#include "platform/window_system.h"
#include "workspace/path_macros.h"

namespace {

// Focus passes end at once when the document window has been brought forward.
constexpr int kNoMorePasses = 31;

WindowId FindDocumentWindow(WindowSystem& windows, const std::vector<std::string>& titles) {
  for (const std::string& title : titles) {
    if (WindowId window = windows.FindWindowByTitle(title)) return window;
  }
  return 0;
}

}  // namespace

std::vector<std::string> DocumentWindowTitles(const std::string& document_path) {
  std::string name = FileNamePart(document_path);
  return {name + " - Word", name + " -제한된 보기 - Word", name + " - LibreOffice Writer"};
}

EditorPlacement PlaceEditor(int work_area_width, int work_area_height) {
  return {std::abs(work_area_width / 2 - 400), std::abs(work_area_height / 2 - 300), 800, 600};
}

ProgramWindows::ProgramWindows(WindowSystem& windows, int pid, const std::string& document_path)
    : windows_(windows), pid_(pid), titles_(DocumentWindowTitles(document_path)) {}

void ProgramWindows::PlaceEditorOnce() {
  if (editor_ != 0) return;
  editor_ = windows_.FindWindowByTitle(kMathEditorTitle);
  if (editor_ == 0) return;
  windows_.Activate(editor_);
  windows_.Activate(editor_);
  ScreenArea work = windows_.WorkArea();
  EditorPlacement place = PlaceEditor(work.width, work.height);
  windows_.Place(editor_, {place.x, place.y, place.width, place.height});
}

// A window manager may ignore a request for a window it is still mapping, so the document
// window is asked again (without a second log line) until it has become the foreground window;
// only then do the passes end.
void ProgramWindows::FocusPass() {
  WindowId process_window = windows_.FindWindowOfProcesses(ProcessAndDescendants(pid_));
  WindowId foreground = windows_.ForegroundWindow();
  WindowId document_window = FindDocumentWindow(windows_, titles_);
  if (document_window != 0 && document_window != foreground) {
    windows_.Activate(document_window);
    if (!document_raised_) Log("\nMSWord Focus");
    document_raised_ = true;
    ++passes_;
    return;
  }
  if (document_raised_) {
    passes_ = kNoMorePasses;
    return;
  }
  if (process_window != 0 && foreground != 0 && process_window != foreground) {
    windows_.Activate(process_window);
    Log("\nSetForegroundWindows -1 : %08X", process_window);
  }
  ++passes_;
}
