// cfp-0040 for one large image, end to end against the built service over TLS (request sent to
// last byte received), beside reading and encoding the same file alone in this process; and the
// service's peak resident memory during the request (VmHWM after resetting it), beside the
// answer's size.
//
//   files_command_bench [megabytes=20] [runs=5]
#include <Magick++.h>
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "imaging/image_utils.h"
#include "integration/service_fixture.h"
#include "protocol/file_records.h"
#include "support/scratch_folder.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A PNG of random pixels stored without compression: about megabytes * 10^6 bytes.
bool MakeNoisePng(const std::string& path, size_t megabytes) {
  size_t side = 1;
  while ((side + 1) * (side + 1) * 3 <= megabytes * 1000 * 1000) ++side;
  std::string rgb(side * side * 3, '\0');
  std::mt19937 random(7);
  for (char& c : rgb) c = static_cast<char>(random() & 0xFF);
  Magick::Image image(side, side, "RGB", Magick::CharPixel, rgb.data());
  image.magick("PNG");
  image.depth(8);
  image.quality(0);  // zlib level 0: the file is as large as the pixels
  image.write(path);
  return true;
}

// A field of /proc/<pid>/status in kB.
long StatusKb(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, field.size() + 1, field + ":") == 0) {
      return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
    }
  }
  return -1;
}

// The process whose executable is path (the fixture keeps its pid to itself).
pid_t ProcessOf(const std::string& path) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::error_code error;
    auto exe = std::filesystem::read_symlink(entry.path() / "exe", error);
    if (!error && exe == path) return static_cast<pid_t>(std::stol(entry.path().filename()));
  }
  return -1;
}

void ResetPeak(pid_t pid) { std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5"; }

}  // namespace

int main(int argc, char** argv) {
  size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20;
  int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  InitializeImaging();
  scratch::ScratchFolder folder;
  std::string image = folder / "noise.png";
  MakeNoisePng(image, megabytes);
  std::string bytes = scratch::ReadFile(image);
  std::printf("image %zu bytes\n", bytes.size());

  double read_encode = 1e9, image_test = 1e9;
  for (int run = 0; run < runs; ++run) {
    auto start = Clock::now();
    EncodedFile encoded;
    if (!EncodeFileBase64(image, ImageOnly::kNo, encoded)) return 1;
    read_encode = std::min(read_encode, Seconds(start));
    start = Clock::now();
    if (!IsReadableImage(image)) return 1;
    image_test = std::min(image_test, Seconds(start));
  }

  service_test::ServiceProcess service;
  if (!service.Start()) {
    std::fprintf(stderr, "the service did not start\n");
    return 1;
  }
  pid_t pid = ProcessOf(service.folder() + "orvohttps");
  if (pid < 0) return 1;
  auto client = service.Client();
  client->set_read_timeout(120);
  std::string body =
      "{\"cmd\":\"cfp-0040\",\"session\":\"b\",\"pdu\":{\"files\":[{\"filepath\":\"" + image +
      "\"}]}}";
  client->Post("/", "{\"cmd\":\"cfp-1000\"}", "text/plain");  // warm the connection up
  double end_to_end = 1e9;
  long peak_kb = 0, base_kb = 0;
  size_t answer = 0;
  for (int run = 0; run < runs; ++run) {
    base_kb = StatusKb(pid, "VmRSS");
    ResetPeak(pid);
    auto start = Clock::now();
    auto res = client->Post("/", body, "text/plain");
    double seconds = Seconds(start);
    if (!res || res->status != 200 || res->body.find("base64string") == std::string::npos) {
      std::fprintf(stderr, "request failed\n");
      return 1;
    }
    answer = res->body.size();
    end_to_end = std::min(end_to_end, seconds);
    peak_kb = std::max(peak_kb, StatusKb(pid, "VmHWM") - base_kb);
  }
  client->Get("/stop");
  service.WaitForExit(10000);

  std::printf("answer %zu bytes\n", answer);
  std::printf("read + encode alone       %.3f s\n", read_encode);
  std::printf("image test alone          %.3f s\n", image_test);
  std::printf("cfp-0040 end to end       %.3f s  (%.2f x read + encode)\n", end_to_end,
              end_to_end / read_encode);
  std::printf(
      "service peak during request %.1f MB above its resident size before "
      "(%.2f x the answer)\n",
      peak_kb / 1024.0, peak_kb * 1024.0 / answer);
  return 0;
}
