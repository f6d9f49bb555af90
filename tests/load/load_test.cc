// The short load run that every test run includes; bench/load/ runs the full one.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>

#include "integration/service_fixture.h"
#include "load/load_driver.h"
#include "support/scratch_folder.h"

namespace {

#ifdef ORVO_LOAD_SKIP_MEMORY_CHECK
constexpr bool kCheckMemory = false;
#else
constexpr bool kCheckMemory = true;
#endif

std::string Describe(const load::LoadResult& result) {
  std::string text;
  for (const std::string& failure : result.failures) text += failure + "\n";
  return text;
}

TEST(Load, EightClientsOfMixedCommandsGetRightAnswersAndLeaveNothingBehind) {
  scratch::ScratchFolder temp;
  scratch::TempDirOverride tmpdir(temp.path());
  scratch::ScratchFolder work;
  service_test::ServiceProcess service;
  ASSERT_TRUE(service.Start()) << service.Output();

  load::LoadOptions options;
  options.ca_path = service.certificate_path();
  options.work_folder = work.path();
  ASSERT_TRUE(load::PrepareFiles(options));
  options.requests = 200;  // warm-up: every thread and pool the service will use
  load::LoadResult warm = load::RunLoad(options);
  ASSERT_EQ(warm.failed, 0) << Describe(warm);
  long warm_kb = load::ResidentKb(service.pid());

  options.requests = 1000;
  options.time_limit = std::chrono::seconds(120);
  load::LoadResult result = load::RunLoad(options);
  EXPECT_EQ(result.failed, 0) << Describe(result);
  EXPECT_EQ(result.answered, options.requests);
  EXPECT_EQ(result.by_command.size(), 6u);
  EXPECT_EQ(scratch::CountEntries(temp / "TAVU"), 0);
  long after_kb = load::ResidentKb(service.pid());
  if (kCheckMemory) {
    EXPECT_LE(after_kb, warm_kb + warm_kb / 10) << "warm " << warm_kb << " kB, after " << after_kb;
  }

  ASSERT_TRUE(service.Client()->Get("/stop"));
  EXPECT_EQ(service.WaitForExit(10000), 0);
}

}  // namespace
