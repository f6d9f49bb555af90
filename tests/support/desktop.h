#ifndef ORVO_TESTS_SUPPORT_DESKTOP_H_
#define ORVO_TESTS_SUPPORT_DESKTOP_H_

// A private desktop for tests: the private X server of support/x_display.h, optionally with the
// openbox window manager on it.

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_folder.h"
#include "support/x_display.h"

namespace desktop {

// Whether a program is on PATH.
inline bool HasProgram(const std::string& name) {
  std::string probe = "command -v '" + name + "' >/dev/null 2>&1";
  return std::system(probe.c_str()) == 0;
}

enum class WindowManager { kNone, kOpenbox };

class Desktop {
 public:
  explicit Desktop(WindowManager manager = WindowManager::kNone) {
    if (manager == WindowManager::kOpenbox && server_.ok()) StartOpenbox();
    wants_manager_ = manager == WindowManager::kOpenbox;
  }
  ~Desktop() { xtest::StopProcess(&manager_); }
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  bool ok() const { return server_.ok() && (!wants_manager_ || manager_ > 0); }

 private:
  // New windows are not given the focus by the manager itself, so a window that has it was
  // brought forward by the code under test.
  void StartOpenbox() {
    scratch::WriteFile(config_.Path("rc.xml"),
                       "<?xml version=\"1.0\"?><openbox_config "
                       "xmlns=\"http://openbox.org/3.4/rc\"><focus><focusNew>no</focusNew>"
                       "<followMouse>no</followMouse></focus></openbox_config>");
    std::string rc = config_.Path("rc.xml");
    char* argv[] = {const_cast<char*>("openbox"), const_cast<char*>("--config-file"), rc.data(),
                    nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&manager_, argv[0], &actions, nullptr, argv, environ) != 0) manager_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    // The manager announces itself with _NET_SUPPORTING_WM_CHECK, a little before it manages
    // new windows; a window mapped in between would stay unmanaged.
    for (int i = 0; i < 100 && manager_ > 0; ++i) {
      if (std::system("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window") == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    xtest::StopProcess(&manager_);
  }

  xtest::XServer server_;
  pid_t manager_ = -1;
  bool wants_manager_ = false;
  scratch::ScratchFolder config_;
};

}  // namespace desktop

#endif  // ORVO_TESTS_SUPPORT_DESKTOP_H_
