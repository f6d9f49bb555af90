#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "platform/file_system.h"
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

}  // namespace

std::unique_ptr<Process> Process::Start(const std::vector<std::string>& argv, ChildOutput output) {
  if (argv.empty() || argv[0].empty()) return nullptr;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  SpawnSetup setup(output);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], setup.actions(), setup.attr(), args.data(), environ) != 0) {
    return nullptr;
  }
  return std::unique_ptr<Process>(new Process(pid));
}

Process::~Process() = default;

void Process::Record(int status) {
  exited_ = true;
  exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Process::HasExited() {
  if (exited_) return true;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(id_, &status, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == id_) {
    Record(status);
  } else if (r < 0) {
    exited_ = true;  // Not our child any more (reaped elsewhere): it has ended for us.
  }
  return exited_;
}

void Process::WaitForExit() {
  if (exited_) return;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(id_, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r == id_) {
    Record(status);
  } else {
    exited_ = true;
  }
}

void Process::Kill() {
  if (exited_) return;
  kill(id_, SIGKILL);
  WaitForExit();
  exit_code_ = -1;
}

ProcessOutcome RunAndWaitFor(const std::vector<std::string>& argv,
                             std::chrono::milliseconds timeout, ChildOutput output) {
  ProcessOutcome outcome;
  std::unique_ptr<Process> process = Process::Start(argv, output);
  if (!process) return outcome;
  outcome.started = true;
  if (timeout < std::chrono::milliseconds::zero()) {
    process->WaitForExit();
  } else {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    // Short naps first: most decoders finish in milliseconds.
    long nap_us = 500;
    while (!process->HasExited() && Clock::now() < deadline) {
      struct timespec nap = {0, nap_us * 1000};
      nanosleep(&nap, nullptr);
      if (nap_us < 20000) nap_us *= 2;
    }
    if (!process->exited()) {
      process->Kill();
      outcome.timed_out = true;
      return outcome;
    }
  }
  outcome.exited = true;
  outcome.exit_code = process->exit_code();
  return outcome;
}

std::string FindProgram(const std::string& name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) {
    return FileSystem::Default().IsExecutableFile(name) ? name : "";
  }
  const char* path = getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    // An empty entry is the current folder, as the shell reads it.
    std::string folder = end > start ? folders.substr(start, end - start) : ".";
    std::string candidate = folder + "/" + name;
    if (FileSystem::Default().IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}
