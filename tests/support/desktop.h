#ifndef ORVO_TESTS_SUPPORT_DESKTOP_H_
#define ORVO_TESTS_SUPPORT_DESKTOP_H_

// A private desktop for tests: Xvfb on a display number it picks itself, optionally with the
// openbox window manager, and DISPLAY pointing at it while it lives.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_folder.h"

extern char** environ;

namespace desktop {

// Starts args with descriptor child_fd on a pipe (-1: none); returns the pid, -1 on failure.
inline pid_t Spawn(const std::vector<std::string>& args, int* read_fd = nullptr,
                   int child_fd = -1) {
  int fds[2] = {-1, -1};
  if (read_fd != nullptr && pipe2(fds, O_CLOEXEC) != 0) return -1;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (read_fd != nullptr) posix_spawn_file_actions_adddup2(&actions, fds[1], child_fd);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (read_fd != nullptr) {
    close(fds[1]);
    *read_fd = fds[0];
  }
  return pid;
}

inline void Stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status;
  waitpid(pid, &status, 0);
  pid = -1;
}

// Whether a program is on PATH.
inline bool HasProgram(const std::string& name) {
  std::string probe = "command -v '" + name + "' >/dev/null 2>&1";
  return std::system(probe.c_str()) == 0;
}

enum class WindowManager { kNone, kOpenbox };

class Desktop {
 public:
  explicit Desktop(WindowManager manager = WindowManager::kNone) {
    int fd = -1;
    server_ = Spawn(
        {"Xvfb", "-displayfd", "3", "-noreset", "-nolisten", "tcp", "-screen", "0", "1920x1080x24"},
        &fd, 3);
    std::string number;
    char c;
    pollfd p{fd, POLLIN, 0};
    while (server_ > 0 && poll(&p, 1, 10000) > 0 && read(fd, &c, 1) == 1 && c != '\n') {
      number += c;
    }
    if (fd >= 0) close(fd);
    if (number.empty()) {
      Stop(server_);
      return;
    }
    const char* old = getenv("DISPLAY");
    if (old != nullptr) old_display_ = old;
    setenv("DISPLAY", (":" + number).c_str(), 1);
    if (manager == WindowManager::kOpenbox) StartOpenbox();
  }
  ~Desktop() {
    Stop(manager_);
    Stop(server_);
    if (old_display_.empty()) {
      unsetenv("DISPLAY");
    } else {
      setenv("DISPLAY", old_display_.c_str(), 1);
    }
  }
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  bool ok() const { return server_ > 0 && (!wants_manager_ || manager_ > 0); }

 private:
  // New windows are not given the focus by the manager itself, so a window that has it was
  // brought forward by the code under test.
  void StartOpenbox() {
    wants_manager_ = true;
    scratch::WriteFile(config_.Path("rc.xml"),
                       "<?xml version=\"1.0\"?><openbox_config "
                       "xmlns=\"http://openbox.org/3.4/rc\"><focus><focusNew>no</focusNew>"
                       "<followMouse>no</followMouse></focus></openbox_config>");
    manager_ = Spawn({"openbox", "--config-file", config_.Path("rc.xml")});
    // The manager announces itself with _NET_SUPPORTING_WM_CHECK; give it time to start.
    for (int i = 0; i < 100 && manager_ > 0; ++i) {
      if (std::system("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window") == 0) {
        // It announces itself before it manages new windows; a window mapped in between would
        // stay unmanaged.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Stop(manager_);
  }

  pid_t server_ = -1;
  pid_t manager_ = -1;
  bool wants_manager_ = false;
  std::string old_display_;
  scratch::ScratchFolder config_;
};

}  // namespace desktop

#endif  // ORVO_TESTS_SUPPORT_DESKTOP_H_
