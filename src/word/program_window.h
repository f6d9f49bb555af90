#ifndef ORVO_WORD_PROGRAM_WINDOW_H_
#define ORVO_WORD_PROGRAM_WINDOW_H_

#include <cstdint>
#include <string>
#include <vector>

class WindowSystem;

// The windows of the programs the service starts for the user (the word processor, the math
// editor): which titles they carry, where the math editor goes, and how a document window is
// brought forward while its program runs. Used by RunAndWait; one object per wait, on one thread.

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

// The window work of one program run, one pass at a time:
//  - the math editor's window ("Quorin") is looked for until found; then it is activated
//    twice and placed (PlaceEditor), once;
//  - a focus pass: when a window with one of the document titles exists and is not the
//    foreground window, it is activated and "\nMSWord Focus" logged (once); once it is the
//    foreground window the passes end. Otherwise, when a window of the process or of one of
//    its descendants exists and another window is in the foreground, that window is activated
//    and "\nSetForegroundWindows -1 : %08X" logged with its id.
class ProgramWindows {
 public:
  ProgramWindows(WindowSystem& windows, int pid, const std::string& document_path);

  void PlaceEditorOnce();
  void FocusPass();
  // Focus passes made (a pass that brought the document forward ends them: then a large number).
  int passes() const { return passes_; }

 private:
  WindowSystem& windows_;
  const int pid_;
  const std::vector<std::string> titles_;
  uint32_t editor_ = 0;            // the math editor's window once found and placed
  int passes_ = 0;                 // focus attempts made
  bool document_raised_ = false;  // the document window was asked forward ("MSWord Focus")
};

#endif  // ORVO_WORD_PROGRAM_WINDOW_H_
