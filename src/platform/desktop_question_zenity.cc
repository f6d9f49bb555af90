#include <vector>

#include "platform/desktop_question.h"
#include "platform/environment.h"
#include "platform/process.h"

namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    std::optional<std::string> value = EnvironmentVariable(name);
    if (value && !value->empty()) return true;
  }
  return false;
}

}  // namespace

DesktopAnswer AskDesktopUser(const DesktopQuestion& question, std::chrono::seconds limit) {
  if (!HasDisplay()) return DesktopAnswer::kNoDesktop;
  // zenity answers with its exit status: 0 for the first button, 1 for the other or a closed
  // window, 5 at its own timeout; anything else is a failure to show the dialog.
  std::vector<std::string> argv = {"zenity",
                                   "--question",
                                   "--no-markup",
                                   "--no-wrap",
                                   "--title=" + question.title,
                                   "--text=" + question.text,
                                   "--ok-label=" + question.yes_label,
                                   "--cancel-label=" + question.no_label,
                                   "--default-cancel"};
  ProcessOutcome outcome = RunAndWaitFor(argv, limit);
  if (!outcome.started) return DesktopAnswer::kNoDesktop;
  return outcome.Succeeded() ? DesktopAnswer::kYes : DesktopAnswer::kNo;
}
