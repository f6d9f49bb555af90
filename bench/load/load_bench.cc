// The full load and soak run: 8 clients (or argv[2]) send 10,000 (or argv[1]) mixed requests
// over TLS after a warm-up; prints throughput, latency percentiles, failures, leftover request
// folders and resident memory after warm-up and after the run. Exit code 1 when any check of
// the load test fails.
#include <httplib.h>

#include <cstdio>
#include <cstdlib>

#include "integration/service_fixture.h"
#include "load/load_driver.h"
#include "support/scratch_folder.h"

int main(int argc, char** argv) {
  int requests = argc > 1 ? std::atoi(argv[1]) : 10000;
  int clients = argc > 2 ? std::atoi(argv[2]) : 8;
  scratch::ScratchFolder temp;
  scratch::TempDirOverride tmpdir(temp.path());
  scratch::ScratchFolder work;
  service_test::ServiceProcess service;
  if (!service.Start()) {
    std::fprintf(stderr, "the service did not start\n");
    return 1;
  }
  load::LoadOptions options;
  options.clients = clients;
  options.ca_path = service.certificate_path();
  options.work_folder = work.path();
  if (!load::PrepareFiles(options)) return 1;
  options.requests = 1000;
  load::LoadResult warm = load::RunLoad(options);
  long warm_kb = load::ResidentKb(service.pid());

  options.requests = requests;
  load::LoadResult result = load::RunLoad(options);
  long after_kb = load::ResidentKb(service.pid());
  int leftovers = scratch::CountEntries(temp / "TAVU");
  std::printf("clients %d, requests %d in %.2f s: %.0f requests/s\n", clients, requests,
              result.seconds, result.answered / result.seconds);
  for (const auto& [command, count] : result.by_command) {
    std::printf("  %s %d\n", command.c_str(), count);
  }
  std::printf("latency ms: p50 %.2f, p90 %.2f, p99 %.2f, max %.2f\n", result.Percentile(50),
              result.Percentile(90), result.Percentile(99), result.Percentile(100));
  std::printf("failed %d (warm-up %d), leftover request folders %d\n", result.failed, warm.failed,
              leftovers);
  std::printf("resident memory: after warm-up %ld kB, after the run %ld kB (%+.1f %%)\n", warm_kb,
              after_kb, 100.0 * (after_kb - warm_kb) / warm_kb);
  for (const std::string& failure : result.failures)
    std::printf("  failure: %s\n", failure.c_str());
  service.Client()->Get("/stop");
  bool stopped = service.WaitForExit(10000) == 0;
  bool good = result.failed == 0 && warm.failed == 0 && leftovers == 0 && stopped &&
              after_kb <= warm_kb + warm_kb / 10;
  return good ? 0 : 1;
}
