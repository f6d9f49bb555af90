// Download throughput of DownloadUrl (library loaded per call) beside the curl program on the
// same URLs in the same run, against a server in this process on 127.0.0.1:
//   1. a 50 MB file, DownloadUrl and `curl -o` taking turns, `rounds` times each;
//   2. 200 small files one after another through DownloadUrl, and the same 200 through one
//      `curl` process per file.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fetch/download_url.h"
#include "fetch/temp_folder.h"
#include "fetch/test_http_server.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kLargeSize = 50 * 1024 * 1024;
constexpr int kSmallFiles = 200;
constexpr size_t kSmallSize = 6 * 1024;
const std::string kLibraryFolder = BENCH_DIST_DIR;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long long FileSize(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? status.st_size : -1;
}

bool RunCurl(const std::string& url, const std::string& destination) {
  std::vector<std::string> args = {"curl", "-s", "--fail", "-o", destination, url};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Report(const char* what, const std::vector<double>& ms, double megabytes) {
  double median = Median(ms);
  double best = *std::min_element(ms.begin(), ms.end());
  std::printf("  %-28s median %8.1f ms  best %8.1f ms  (%6.0f MB/s at the median)\n", what, median,
              best, megabytes / (median / 1000.0));
}

bool BenchLarge(TestHttpServer& server, const TempFolder& folder, int rounds) {
  std::string url = server.Url("/files/large.bin");
  std::string destination = folder.path() + "large.bin";
  std::vector<double> library_ms, curl_ms;
  for (int round = 0; round < rounds; ++round) {
    auto start = Clock::now();
    if (DownloadUrl(url, destination, kLibraryFolder) == 0) return false;
    library_ms.push_back(MillisecondsSince(start));
    if (FileSize(destination) != static_cast<long long>(kLargeSize)) return false;
    std::remove(destination.c_str());

    start = Clock::now();
    if (!RunCurl(url, destination)) return false;
    curl_ms.push_back(MillisecondsSince(start));
    if (FileSize(destination) != static_cast<long long>(kLargeSize)) return false;
    std::remove(destination.c_str());
  }
  double megabytes = kLargeSize / (1024.0 * 1024.0);
  std::printf("50 MB file, %d rounds each:\n", rounds);
  Report("DownloadUrl", library_ms, megabytes);
  Report("curl -o", curl_ms, megabytes);
  std::printf("  DownloadUrl / curl (medians): %.2f\n", Median(library_ms) / Median(curl_ms));
  return true;
}

bool BenchSmall(TestHttpServer& server, const TempFolder& folder) {
  auto start = Clock::now();
  for (int i = 0; i < kSmallFiles; ++i) {
    std::string name = "s" + std::to_string(i) + ".png";
    if (DownloadUrl(server.Url("/files/" + name), folder.path() + name, kLibraryFolder) == 0) {
      return false;
    }
  }
  double library_total = MillisecondsSince(start);
  start = Clock::now();
  for (int i = 0; i < kSmallFiles; ++i) {
    std::string name = "s" + std::to_string(i) + ".png";
    if (!RunCurl(server.Url("/files/" + name), folder.path() + "c" + name)) return false;
  }
  double curl_total = MillisecondsSince(start);
  std::printf("%d files of %zu KB, one after another:\n", kSmallFiles, kSmallSize / 1024);
  std::printf("  %-28s total %8.1f ms  per file %6.2f ms\n", "DownloadUrl (load per call)",
              library_total, library_total / kSmallFiles);
  std::printf("  %-28s total %8.1f ms  per file %6.2f ms\n", "curl -o (process per file)",
              curl_total, curl_total / kSmallFiles);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  TestHttpServer server;
  std::string large(kLargeSize, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 131) >> 7);
  server.AddFile("large.bin", std::move(large));
  for (int i = 0; i < kSmallFiles; ++i) {
    server.AddFile("s" + std::to_string(i) + ".png", std::string(kSmallSize, static_cast<char>(i)));
  }
  TempFolder folder;
  // One untimed download of each kind first, so that neither pays for cold caches.
  DownloadUrl(server.Url("/files/s0.png"), folder.path() + "warm.png", kLibraryFolder);
  RunCurl(server.Url("/files/s0.png"), folder.path() + "warm2.png");
  if (!BenchLarge(server, folder, rounds)) {
    std::fprintf(stderr, "large download failed\n");
    return 1;
  }
  if (!BenchSmall(server, folder)) {
    std::fprintf(stderr, "small download failed\n");
    return 1;
  }
  return 0;
}
