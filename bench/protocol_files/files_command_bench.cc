// cfp-0040 end to end against the built service over TLS (request sent to last byte received),
// beside its peer: nginx (one worker, the same certificate) sending the identical answer bytes
// from a file over TLS to the same client, in the same run. Two cases: one large image, and
// many small images in one request (the per-file cost). For each: the service's peak resident
// memory during the request (VmHWM after resetting it) beside the answer's size; and, for the
// large image, reading and encoding the file alone and the image test alone in this process.
//
//   files_command_bench [megabytes=20] [runs=5] [small_files=200] [small_kilobytes=100]
#include <Magick++.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "imaging/image_utils.h"
#include "integration/service_fixture.h"
#include "protocol/file_records.h"
#include "support/generated_png.h"
#include "support/scratch_folder.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The peer's port; the bench runs in a network namespace of its own, like the tests.
constexpr int kPeerPort = 38952;

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

// nginx serving the files of one folder over TLS on 127.0.0.1, one worker, in the foreground.
class NginxPeer {
 public:
  NginxPeer(const std::string& folder, const std::string& certificate, const std::string& key)
      : folder_(folder) {
    std::ofstream(folder + "/nginx.conf")
        << "worker_processes 1;\nuser root;\ndaemon off;\npid " << folder << "/nginx.pid;\n"
        << "error_log " << folder << "/nginx-error.log;\n"
        << "events { worker_connections 16; }\n"
        << "http {\n  access_log off;\n  default_type text/plain;\n"
        << "  client_body_temp_path " << folder << ";\n"
        << "  server {\n    listen 127.0.0.1:" << kPeerPort << " ssl;\n"
        << "    ssl_certificate " << certificate << ";\n    ssl_certificate_key " << key
        << ";\n    root " << folder << ";\n  }\n}\n";
  }
  ~NginxPeer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }

  // Starts nginx and waits until it answers; false when it is not installed or fails.
  bool Start() {
    std::string conf = folder_ + "/nginx.conf";
    std::vector<std::string> args = {"nginx", "-p", folder_, "-c", conf, "-e", "stderr"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (::posix_spawnp(&pid_, "nginx", nullptr, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
      return false;
    }
    for (int i = 0; i < 100; ++i) {
      if (Client()->Get("/nginx.conf")) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::unique_ptr<httplib::SSLClient> Client() const {
    auto client = std::make_unique<httplib::SSLClient>("localhost", kPeerPort);
    client->enable_server_certificate_verification(false);
    client->set_read_timeout(120);
    return client;
  }

 private:
  std::string folder_;
  pid_t pid_ = -1;
};

struct Timing {
  double seconds = 1e9;  // best of the runs
  long peak_kb = 0;      // service only
  std::string answer;
};

// One cfp-0040 request: the best time so far, the service's largest rise of memory during one,
// and the answer.
bool ServiceOnce(httplib::SSLClient& client, pid_t pid, const std::string& body, Timing* timing) {
  long base_kb = StatusKb(pid, "VmRSS");
  ResetPeak(pid);
  auto start = Clock::now();
  auto res = client.Post("/", body, "text/plain");
  double seconds = Seconds(start);
  if (!res || res->status != 200 || res->body.find("base64string") == std::string::npos) {
    return false;
  }
  timing->seconds = std::min(timing->seconds, seconds);
  timing->peak_kb = std::max(timing->peak_kb, StatusKb(pid, "VmHWM") - base_kb);
  timing->answer = std::move(res->body);
  return true;
}

// One transfer of the file `name` from the peer; false unless its bytes are expected.
bool PeerOnce(httplib::SSLClient& client, const std::string& name, const std::string& expected,
              double* seconds) {
  auto start = Clock::now();
  auto res = client.Get("/" + name);
  double took = Seconds(start);
  if (!res || res->status != 200 || res->body != expected) return false;
  *seconds = std::min(*seconds, took);
  return true;
}

std::string FilesRequest(const std::vector<std::string>& paths) {
  std::string body = "{\"cmd\":\"cfp-0040\",\"session\":\"b\",\"pdu\":{\"files\":[";
  for (size_t i = 0; i < paths.size(); ++i) {
    body += (i > 0 ? ",{\"filepath\":\"" : "{\"filepath\":\"") + paths[i] + "\"}";
  }
  return body + "]}}";
}

void Report(const char* label, const Timing& service, double peer, size_t files) {
  std::printf("%s: answer %zu bytes\n", label, service.answer.size());
  std::printf("  cfp-0040 end to end      %.3f s\n", service.seconds);
  if (peer < 1e9) {
    std::printf("  nginx, same bytes        %.3f s  (service / nginx = %.2f)\n", peer,
                service.seconds / peer);
    std::printf("  service cost per file    %.2f ms above nginx\n",
                (service.seconds - peer) * 1000 / files);
  }
  std::printf(
      "  service peak             %.1f MB above its resident size before (%.2f x the "
      "answer)\n",
      service.peak_kb / 1024.0, service.peak_kb * 1024.0 / service.answer.size());
}

}  // namespace

int main(int argc, char** argv) {
  size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20;
  int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  size_t small_files = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 200;
  size_t small_kilobytes = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 100;
  InitializeImaging();
  scratch::ScratchFolder folder;
  std::string image = folder / "noise.png";
  MakeNoisePng(image, megabytes);
  std::printf("large image %zu bytes\n", scratch::ReadFile(image).size());
  std::vector<std::string> small_paths;
  uint32_t side = 1;
  while ((side + 1) * (side + 1) * 3 <= small_kilobytes * 1000) ++side;
  for (size_t i = 0; i < small_files; ++i) {
    small_paths.push_back(folder / ("small-" + std::to_string(i) + ".png"));
    scratch::WriteFile(small_paths.back(),
                       generated_png::NoisePng(side, side, static_cast<uint32_t>(i)));
  }
  std::printf("%zu small images of %zu bytes\n", small_files,
              scratch::ReadFile(small_paths.front()).size());

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
  std::printf("read + encode alone        %.3f s\nimage test alone           %.3f s\n", read_encode,
              image_test);

  service_test::ServiceProcess service;
  if (!service.Start()) {
    std::fprintf(stderr, "the service did not start\n");
    return 1;
  }
  pid_t pid = ProcessOf(service.folder() + "orvohttps");
  auto client = service.Client();
  client->set_read_timeout(120);
  const std::string large_body = FilesRequest({image});
  const std::string small_body = FilesRequest(small_paths);
  // The first answers give the peer its files (and warm the connection up).
  Timing large, small;
  if (pid < 0 || !ServiceOnce(*client, pid, large_body, &large) ||
      !ServiceOnce(*client, pid, small_body, &small)) {
    std::fprintf(stderr, "request failed\n");
    return 1;
  }
  scratch::WriteFile(folder / "large-answer.txt", large.answer);
  scratch::WriteFile(folder / "small-answer.txt", small.answer);
  NginxPeer peer(folder.path(), service.certificate_path(), service.folder() + "localhost-key.pem");
  bool with_peer = peer.Start();
  if (!with_peer) std::printf("nginx did not start (is it installed?): no peer\n");
  auto peer_client = peer.Client();
  // Service and peer take turns, so that both see the same load on the machine.
  large = Timing();
  small = Timing();
  double large_peer = 1e9, small_peer = 1e9;
  for (int run = 0; run < runs; ++run) {
    bool ok = ServiceOnce(*client, pid, large_body, &large) &&
              ServiceOnce(*client, pid, small_body, &small);
    if (ok && with_peer) {
      ok = PeerOnce(*peer_client, "large-answer.txt", large.answer, &large_peer) &&
           PeerOnce(*peer_client, "small-answer.txt", small.answer, &small_peer);
    }
    if (!ok) {
      std::fprintf(stderr, "a request failed, or nginx did not send the answer's bytes\n");
      return 1;
    }
  }
  client->Get("/stop");
  service.WaitForExit(10000);
  Report("one large image", large, large_peer, 1);
  Report("many small images", small, small_peer, small_files);
  return 0;
}
