#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "platform/process.h"

extern char** environ;

namespace {

// Owns the spawn attributes and file actions for one start.
class SpawnSetup {
 public:
  explicit SpawnSetup(ChildOutput output) {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attr_);
    posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    if (output == ChildOutput::kDiscard) {
      posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
    }
    // Listening sockets and open files of other requests must not outlive us in a child.
    posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    // Ignored signals survive exec; the service ignores SIGPIPE, its children should not.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr_, &all);
    posix_spawnattr_setsigmask(&attr_, &none);
    posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attr() const { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
};

void Record(int status, ProcessOutcome* outcome) {
  outcome->exited = true;
  outcome->exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void WaitWithoutLimit(pid_t pid, ProcessOutcome* outcome) {
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r == pid) Record(status, outcome);
}

void WaitWithLimit(pid_t pid, std::chrono::milliseconds timeout, ProcessOutcome* outcome) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + timeout;
  // Short naps first: most decoders finish in milliseconds.
  long nap_us = 500;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      Record(status, outcome);
      return;
    }
    if (r < 0 && errno != EINTR) return;  // Not our child any more; nothing to reap.
    if (Clock::now() >= deadline) break;
    struct timespec nap = {0, nap_us * 1000};
    nanosleep(&nap, nullptr);
    if (nap_us < 20000) nap_us *= 2;
  }
  kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  outcome->timed_out = true;
}

}  // namespace

ProcessOutcome RunAndWaitFor(const std::vector<std::string>& argv,
                             std::chrono::milliseconds timeout, ChildOutput output) {
  ProcessOutcome outcome;
  if (argv.empty() || argv[0].empty()) return outcome;

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  SpawnSetup setup(output);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], setup.actions(), setup.attr(), args.data(), environ) != 0) {
    return outcome;
  }
  outcome.started = true;
  if (timeout < std::chrono::milliseconds::zero()) {
    WaitWithoutLimit(pid, &outcome);
  } else {
    WaitWithLimit(pid, timeout, &outcome);
  }
  return outcome;
}
