// Start to first answer: from spawning the built service until its answer to the version
// command has arrived over TLS, beside nginx (one process, no workers) from spawning it until
// its fixed answer over TLS has arrived, in alternating runs; with the shared libraries each
// has mapped once it answers.
//
//   startup_bench [runs=15]
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "integration/service_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kNginxPort = 38952;

double Milliseconds(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Asks until an answer with the expected status arrives; false after ten seconds.
bool AwaitAnswer(httplib::SSLClient* client, bool post) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    auto res = post ? client->Post("/", "{\"cmd\":\"cfp-1000\",\"session\":\"s\",\"pdu\":{}}",
                                   "text/plain")
                    : client->Get("/");
    if (res && res->status == 200) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

size_t MappedLibraries(pid_t pid) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::set<std::string> libraries;
  for (std::string line; std::getline(maps, line);) {
    const size_t path = line.find('/');
    if (path != std::string::npos && line.find(".so", path) != std::string::npos) {
      libraries.insert(line.substr(path));
    }
  }
  return libraries.size();
}

pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  std::vector<double> ours, nginx;
  size_t our_libraries = 0, nginx_libraries = 0;
  for (int run = 0; run < runs; ++run) {
    service_test::ServiceProcess service;
    auto client = service.Client();
    client->set_connection_timeout(0, 100000);
    auto start = Clock::now();
    if (!service.Start(false) || !AwaitAnswer(client.get(), true)) return 1;
    ours.push_back(Milliseconds(start));
    our_libraries = MappedLibraries(service.pid());
    client->Get("/stop");
    service.WaitForExit(10000);

    const std::string conf = service.folder() + "nginx.conf";
    std::ofstream(conf) << "daemon off; master_process off; pid " << service.folder()
                        << "nginx.pid; error_log stderr crit;\nevents {}\nhttp { access_log off;\n"
                        << "server { listen 127.0.0.1:" << kNginxPort << " ssl;\nssl_certificate "
                        << service.certificate_path() << ";\nssl_certificate_key "
                        << service.folder() << "localhost-key.pem;\n"
                        << "location / { return 200 \"ok\"; } } }\n";
    httplib::SSLClient peer("127.0.0.1", kNginxPort);
    peer.enable_server_certificate_verification(false);
    peer.set_connection_timeout(0, 100000);
    start = Clock::now();
    const pid_t pid = Spawn({"nginx", "-p", service.folder(), "-c", conf});
    if (pid < 0 || !AwaitAnswer(&peer, false)) return 1;
    nginx.push_back(Milliseconds(start));
    nginx_libraries = MappedLibraries(pid);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
  double load = -1;
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &load) != 1) load = -1;
    std::fclose(f);
  }
  std::printf("start to first answer, median of %d alternating runs (load average %.2f)\n",
              runs, load);
  std::printf("orvohttps  %6.1f ms  %zu shared libraries mapped\n", Median(ours), our_libraries);
  std::printf("nginx      %6.1f ms  %zu shared libraries mapped\n", Median(nginx),
              nginx_libraries);
  return 0;
}
