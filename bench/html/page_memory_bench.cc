// The service's peak memory while a command parses a large page: for each page and command
// the rise of the service's peak resident memory (VmHWM, reset before the request) beside the
// request's size, with the answer's error number and the time taken. Each request goes to a
// service of its own: memory an earlier request freed but the allocator kept would hide part
// of the next one's rise. Run it inside a network
// namespace of its own when others use the port:
//   unshare --net bash -c 'ip link set lo up; build/bench/html/bench_page_memory [megabytes]'
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "integration/service_fixture.h"
#include "support/scratch_folder.h"

namespace {

std::string Repeat(const std::string& unit, size_t bytes) {
  std::string page;
  page.reserve(bytes + unit.size());
  while (page.size() < bytes) page += unit;
  return page;
}

// Office markup: styled paragraphs, with a picture in a VML comment and as an img now and then.
std::string OfficePage(size_t bytes) {
  std::string page = "<html><head><style>p.MsoNormal {margin:0cm;}</style></head><body>\\n";
  const std::string paragraph =
      "<p class=MsoNormal style='margin-bottom:0cm'><span lang=EN-US>Lorem ipsum dolor sit "
      "amet &amp; adipiscing elit, sed do eiusmod tempor.<o:p></o:p></span></p>\\n";
  for (int k = 0; page.size() < bytes; ++k) {
    if (k % 5 == 0) {
      std::string name = "missing/img" + std::to_string(k) + ".png";
      page += "<!--[if gte vml 1]><v:imagedata src=\\\"" + name +
              "\\\"/><![endif]--><![if !vml]><img src=\\\"" + name + "\\\"><![endif]>\\n";
    }
    page += paragraph;
  }
  return page + "</body></html>";
}

}  // namespace

int main(int argc, char** argv) {
  size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 60;
  scratch::ScratchFolder temp;
  scratch::TempDirOverride tmpdir(temp.path());
  struct Page {
    const char* name;
    std::string json;  // already escaped for a JSON string
  } pages[] = {{"tags <p>", Repeat("<p>", megabytes << 20)},
               {"tags <img src=a.png>", Repeat("<img src=a.png>", megabytes << 20)},
               {"office markup", OfficePage(megabytes << 20)},
               {"office markup, 10 MB", OfficePage(size_t{10} << 20)}};
  std::printf("%-22s %-9s %9s %10s %11s %6s %8s\n", "page", "command", "body MB", "peak MB",
              "peak/body", "error", "seconds");
  for (const Page& page : pages) {
    for (const char* command : {"cfp-0001", "cfp-0020"}) {
      service_test::ServiceProcess service;
      if (!service.Start()) {
        std::fprintf(stderr, "the service did not start\n");
        return 1;
      }
      auto client = service.Client();
      client->set_read_timeout(600, 0);
      client->set_write_timeout(600, 0);
      std::string body = std::string("{\"cmd\":\"") + command +
                         "\",\"session\":\"b\",\"pdu\":{\"html\":\"" + page.json + "\"}}";
      service.ResetPeakMemory();
      long before = service.PeakKilobytes();
      auto start = std::chrono::steady_clock::now();
      auto res = client->Post("/", body, "text/plain");
      double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      double peak = (service.PeakKilobytes() - before) / 1024.0;
      std::string error = "-";
      if (res) {
        size_t at = res->body.find("\"error\":");
        if (at != std::string::npos) error = res->body.substr(at + 8, res->body.find(',', at) - at - 8);
      }
      double body_mb = body.size() / 1048576.0;
      std::printf("%-22s %-9s %9.1f %10.1f %11.2f %6s %8.2f\n", page.name, command, body_mb, peak,
                  peak / body_mb, error.c_str(), seconds);
      std::fflush(stdout);
    }
  }
  return 0;
}
