// Base64Encode on 100 MB of random bytes beside coreutils' `base64 -w 76` on the same bytes,
// in the same run. Prints throughput in MB/s (10^6 bytes of input per second); best of the runs.
//
//   base64_bench [megabytes=100] [runs=5]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "protocol/file_records.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs `base64 -w 76 input` with its output thrown away; the time of the whole process.
double TimeCoreutils(const std::string& input) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>("base64"), const_cast<char*>("-w"),
                  const_cast<char*>("76"), const_cast<char*>(input.c_str()), nullptr};
  pid_t pid;
  auto start = Clock::now();
  if (posix_spawnp(&pid, "base64", &actions, nullptr, argv, environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  double seconds = Seconds(start);
  posix_spawn_file_actions_destroy(&actions);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
  int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  size_t size = megabytes * 1000 * 1000;
  std::vector<unsigned char> data(size);
  std::mt19937_64 random(42);
  for (size_t i = 0; i + 8 <= size; i += 8) {
    uint64_t value = random();
    std::memcpy(&data[i], &value, 8);
  }
  std::vector<char> text(Base64BufferSize(size));

  double ours = 1e9;
  size_t written = 0;
  for (int run = 0; run < runs; ++run) {
    auto start = Clock::now();
    written = Base64Encode(data.data(), size, text.data());
    ours = std::min(ours, Seconds(start));
  }

  std::string input = (std::filesystem::temp_directory_path() / "base64_bench.XXXXXX").string();
  int fd = mkstemp(input.data());
  if (fd < 0 || write(fd, data.data(), size) != static_cast<ssize_t>(size)) return 1;
  close(fd);
  double theirs = 1e9;
  for (int run = 0; run < runs; ++run) {
    double seconds = TimeCoreutils(input);  // the file stays in the page cache after run 1
    if (seconds < 0) {
      std::fprintf(stderr, "base64 (coreutils) failed\n");
      unlink(input.c_str());
      return 1;
    }
    theirs = std::min(theirs, seconds);
  }
  unlink(input.c_str());

  std::printf("input %zu bytes, text %zu characters\n", size, written);
  std::printf("Base64Encode        %8.1f MB/s  (%.3f s)\n", size / ours / 1e6, ours);
  std::printf("coreutils base64 -w 76 %5.1f MB/s  (%.3f s, whole process, file in page cache)\n",
              size / theirs / 1e6, theirs);
  std::printf("ratio               %8.2f x\n", theirs / ours);
  return 0;
}
