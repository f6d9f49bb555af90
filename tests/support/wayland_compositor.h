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
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_folder.h"

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
    std::vector<std::string> args;
    if (root) {
      args = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
    const std::vector<std::string> rest = {"env",
                                           "-i",
                                           "PATH=/usr/local/bin:/usr/bin:/bin",
                                           "HOME=" + folder_,
                                           "XDG_RUNTIME_DIR=" + folder_,
                                           "WLR_BACKENDS=headless",
                                           "WLR_RENDERER=pixman",
                                           "WLR_LIBINPUT_NO_DEVICES=1",
                                           "sway",
                                           "-c",
                                           folder_ + "/config"};
    args.insert(args.end(), rest.begin(), rest.end());
    pid_ = Spawn(args);
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
  const std::string& socket() const { return socket_; }
  const std::string& runtime_folder() const { return folder_; }

  // Stops and continues the compositor's process: stopped, it still takes connections (the
  // kernel queues them) but never answers.
  void Pause() { kill(pid_, SIGSTOP); }
  void Resume() { kill(pid_, SIGCONT); }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGCONT);
    kill(pid_, SIGTERM);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  static constexpr uid_t kNobody = 65534;

  // Starts args with standard output and error on /dev/null (sway logs a lot).
  static pid_t Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
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
