#ifndef ORVO_TESTS_SUPPORT_X_DISPLAY_H_
#define ORVO_TESTS_SUPPORT_X_DISPLAY_H_

// A private X server for tests (Xvfb on a display number it picks itself) and the test
// clipboard owner (tests/platform/clipboard_owner.cc) running on it.

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace xtest {

// Starts argv with its standard output on a pipe; returns the pid (-1 on failure) and the read
// end in *out_fd.
inline pid_t SpawnWithPipe(const std::vector<std::string>& args, int* out_fd, int child_fd = 1) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], child_fd);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  *out_fd = fds[0];
  return pid;
}

// Reads one line from fd within timeout_ms; empty on timeout or end of file.
inline std::string ReadLine(int fd, int timeout_ms) {
  std::string line;
  char ch;
  while (true) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0 || read(fd, &ch, 1) != 1) return {};
    if (ch == '\n') return line;
    line += ch;
  }
}

inline void StopProcess(pid_t* pid) {
  if (*pid <= 0) return;
  kill(*pid, SIGTERM);
  // One that has not gone within five seconds (stuck on a peer that was stopped) is killed:
  // a test's clean-up never holds the run.
  int status;
  for (int i = 0; i < 250 && waitpid(*pid, &status, WNOHANG) == 0; ++i) usleep(20000);
  if (waitpid(*pid, &status, WNOHANG) == 0) {
    kill(*pid, SIGKILL);
    waitpid(*pid, &status, 0);
  }
  *pid = -1;
}

// Xvfb with -noreset (a plain Xvfb resets when its last client leaves, and a client that
// connects during the reset fails), 1920x1080 at 96 dpi unless told another screen ("WxHxD")
// and dpi. DISPLAY points at it while it lives. Extra arguments (e.g. "-auth", file) come last.
class XServer {
 public:
  explicit XServer(const std::vector<std::string>& extra = {},
                   const std::string& screen = "1920x1080x24", const std::string& dpi = "96") {
    int fd = -1;
    std::vector<std::string> args{"Xvfb", "-displayfd", "3",    "-noreset", "-nolisten", "tcp",
                                  "-screen", "0",       screen, "-dpi",     dpi};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = SpawnWithPipe(args, &fd, 3);
    if (pid_ > 0) number_ = ReadLine(fd, 10000);
    if (fd >= 0) close(fd);
    if (number_.empty()) {
      StopProcess(&pid_);
      return;
    }
    const char* old = getenv("DISPLAY");
    if (old != nullptr) old_display_ = old;
    setenv("DISPLAY", display().c_str(), 1);
  }
  ~XServer() { Stop(); }
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  bool ok() const { return pid_ > 0; }
  std::string display() const { return ":" + number_; }

  // Ends the server (as a server that goes away would) and restores DISPLAY.
  void Stop() {
    if (pid_ <= 0) return;
    StopProcess(&pid_);
    if (old_display_.empty()) {
      unsetenv("DISPLAY");
    } else {
      setenv("DISPLAY", old_display_.c_str(), 1);
    }
  }

 private:
  pid_t pid_ = -1;
  std::string number_;
  std::string old_display_;
};

// Something that takes connections where an X server of a spare display number would, and never
// answers: the client's setup request waits forever. kUnix listens on the abstract socket name
// xcb tries first for ":N"; kTcp on 127.0.0.1, port 6000 + N, for "127.0.0.1:N". Connections
// queue in the listen backlog: to the client they are accepted. DISPLAY points at it while it
// lives.
class SilentXServer {
 public:
  enum class Transport { kUnix, kTcp };

  explicit SilentXServer(Transport transport) {
    for (int number = 400; number < 500 && fd_ < 0; ++number) {
      const int fd =
          socket(transport == Transport::kUnix ? AF_UNIX : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_storage storage{};
      socklen_t length = 0;
      if (transport == Transport::kUnix) {
        auto& address = reinterpret_cast<sockaddr_un&>(storage);
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
        address.sun_family = AF_UNIX;
        memcpy(address.sun_path + 1, path.data(), path.size());  // abstract: leading 0 byte
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
      } else {
        auto& address = reinterpret_cast<sockaddr_in&>(storage);
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(6000 + number));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof address;
      }
      if (bind(fd, reinterpret_cast<sockaddr*>(&storage), length) == 0 && listen(fd, 64) == 0) {
        fd_ = fd;
        display_ = (transport == Transport::kUnix ? ":" : "127.0.0.1:") + std::to_string(number);
      } else {
        close(fd);
      }
    }
    const char* old = getenv("DISPLAY");
    if (old != nullptr) old_display_ = old;
    if (fd_ >= 0) setenv("DISPLAY", display_.c_str(), 1);
  }
  ~SilentXServer() {
    if (fd_ < 0) return;
    close(fd_);
    if (old_display_.empty()) {
      unsetenv("DISPLAY");
    } else {
      setenv("DISPLAY", old_display_.c_str(), 1);
    }
  }
  SilentXServer(const SilentXServer&) = delete;
  SilentXServer& operator=(const SilentXServer&) = delete;

  bool ok() const { return fd_ >= 0; }
  const std::string& display() const { return display_; }

 private:
  int fd_ = -1;
  std::string display_;
  std::string old_display_;
};

// The clipboard owner below is there for the targets that build it (ORVO_CLIPBOARD_OWNER names
// its path); the private X server serves other tests as well.
#ifdef ORVO_CLIPBOARD_OWNER

// A test clipboard owner (by default the X11 one), started with the given arguments; ok() once
// it owns the selection.
class ClipboardOwner {
 public:
  explicit ClipboardOwner(const std::vector<std::string>& arguments,
                          const std::string& program = ORVO_CLIPBOARD_OWNER) {
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    int fd = -1;
    pid_ = SpawnWithPipe(args, &fd);
    if (pid_ > 0) ready_ = ReadLine(fd, 10000) == "ready";
    if (fd >= 0) close(fd);
  }
  ~ClipboardOwner() { StopProcess(&pid_); }
  ClipboardOwner(const ClipboardOwner&) = delete;
  ClipboardOwner& operator=(const ClipboardOwner&) = delete;

  bool ok() const { return ready_; }

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
};

// Clipboard content: target names and their bytes, in the order they are offered.
using Offers = std::vector<std::pair<std::string, std::string>>;

// Writes each offer's bytes to a file in folder (an existing folder) and starts the owner
// offering them, with flags ("--chunk", "N", "--hang" ...) first.
inline std::unique_ptr<ClipboardOwner> OfferOnClipboard(
    const std::string& folder, const Offers& offers, std::vector<std::string> flags = {},
    const std::string& program = ORVO_CLIPBOARD_OWNER) {
  static int serial = 0;
  for (const auto& [target, bytes] : offers) {
    const std::string file = folder + "/offer" + std::to_string(serial++);
    std::ofstream(file, std::ios::binary) << bytes;
    flags.push_back(target);
    flags.push_back(file);
  }
  return std::make_unique<ClipboardOwner>(flags, program);
}

#endif  // ORVO_CLIPBOARD_OWNER

}  // namespace xtest

#endif  // ORVO_TESTS_SUPPORT_X_DISPLAY_H_
