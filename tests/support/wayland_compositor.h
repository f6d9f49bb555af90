#ifndef ORVO_TESTS_SUPPORT_WAYLAND_COMPOSITOR_H_
#define ORVO_TESTS_SUPPORT_WAYLAND_COMPOSITOR_H_

// A private headless Wayland compositor for tests: sway on wlroots' headless back end with
// software rendering, in a runtime folder of its own. sway refuses to run as root, so a root
// test process starts it as the unprivileged user "nobody" (setpriv) in a folder that user
// owns; root still reaches its socket. WAYLAND_DISPLAY names the socket (a full path) and
// XDG_RUNTIME_DIR the folder while the compositor lives.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_folder.h"
#include "support/x_display.h"

extern char** environ;

namespace wltest {

class Compositor {
 public:
  Compositor() {
    char pattern[] = "/tmp/orvo-wayland-XXXXXX";  // short: a socket path has 108 bytes
    if (mkdtemp(pattern) == nullptr) return;
    folder_ = pattern;
    const bool root = geteuid() == 0;
    if (root && chown(folder_.c_str(), kNobody, kNobody) != 0) return;
    std::ofstream(folder_ + "/config") << "xwayland disable\n";
    // The folder's name has no blanks: the command is split at them.
    std::string command = "env -i HOME=" + folder_ + " XDG_RUNTIME_DIR=" + folder_ +
                          " PATH=/usr/bin:/bin WLR_BACKENDS=headless WLR_RENDERER=pixman"
                          " WLR_LIBINPUT_NO_DEVICES=1 sway -c " +
                          folder_ + "/config";
    if (root) command = "setpriv --reuid=65534 --regid=65534 --clear-groups " + command;
    pid_ = Spawn(command);
    socket_ = WaitForSocket();
    if (socket_.empty()) {
      Stop();
      return;
    }
    display_.emplace("WAYLAND_DISPLAY", socket_);
    runtime_.emplace("XDG_RUNTIME_DIR", folder_);
  }
  ~Compositor() {
    Stop();
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }
  Compositor(const Compositor&) = delete;
  Compositor& operator=(const Compositor&) = delete;

  bool ok() const { return pid_ > 0 && !socket_.empty(); }

  // Stops and continues the compositor's process: stopped, it still takes connections (the
  // kernel queues them) but never answers.
  void Pause() { kill(pid_, SIGSTOP); }
  void Resume() { kill(pid_, SIGCONT); }

  void Stop() {
    if (pid_ > 0) kill(pid_, SIGCONT);
    xtest::StopProcess(&pid_);
  }

 private:
  static constexpr uid_t kNobody = 65534;

  // Starts args with standard output and error on /dev/null (sway logs a lot).
  static pid_t Spawn(const std::string& command) {
    std::istringstream words(command);
    std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    for (int fd : {1, 2}) posix_spawn_file_actions_addopen(&quiet, fd, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &quiet, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&quiet);
    return pid;
  }

  // The compositor's socket ("wayland-N") once it appears, within ten seconds.
  std::string WaitForSocket() const {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && std::chrono::steady_clock::now() < give_up) {
      std::error_code error;
      for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
        const std::string name = entry.path().filename();
        if (name.rfind("wayland-", 0) == 0 && entry.is_socket()) return entry.path();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {};
  }

  pid_t pid_ = -1;
  std::string folder_;
  std::string socket_;
  std::optional<scratch::EnvOverride> display_;
  std::optional<scratch::EnvOverride> runtime_;
};

}  // namespace wltest

#endif  // ORVO_TESTS_SUPPORT_WAYLAND_COMPOSITOR_H_
