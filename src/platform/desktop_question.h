#ifndef ORVO_PLATFORM_DESKTOP_QUESTION_H_
#define ORVO_PLATFORM_DESKTOP_QUESTION_H_

#include <chrono>
#include <string>

// A yes-or-no question put to the desktop user in a dialog of its own (zenity, which works on
// X11 and Wayland desktops alike).

enum class DesktopAnswer {
  kYes,        // the user chose yes_label
  kNo,         // declined, closed the dialog, or gave no answer within the time limit
  kNoDesktop,  // nobody could be asked: no display, or no dialog program to show the question
};

struct DesktopQuestion {
  std::string title;
  std::string text;  // plain text: never read as markup
  std::string yes_label;
  std::string no_label;
};

// Shows the question and waits for the answer, at most limit (the dialog is then closed).
// Returns kNoDesktop at once when neither DISPLAY nor WAYLAND_DISPLAY is set. Thread-safe; it
// does not keep two dialogs from showing at once: callers that must, serialise themselves.
DesktopAnswer AskDesktopUser(const DesktopQuestion& question, std::chrono::seconds limit);

#endif  // ORVO_PLATFORM_DESKTOP_QUESTION_H_
