// The download library's exports, called directly as any host would.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>

#include "download/http_interface.h"
#include "fetch/temp_folder.h"
#include "fetch/test_http_server.h"
#include "support/exported_symbols.h"

namespace {

class DownloadLibraryTest : public testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen((std::string(FETCH_TEST_DIST_DIR) + "orvohttp8.so").c_str(), RTLD_NOW);
    ASSERT_NE(handle_, nullptr) << dlerror();
    auto get_interface =
        reinterpret_cast<GetHttpInterfaceFunction>(dlsym(handle_, "GetHttpInterface"));
    set_user_agent_ = reinterpret_cast<SetUserAgentFunction>(dlsym(handle_, "SetUserAgent"));
    ASSERT_NE(get_interface, nullptr);
    ASSERT_NE(set_user_agent_, nullptr);
    ASSERT_NE(get_interface(&table_), 0);
    download_ = reinterpret_cast<HttpDownloadFunction>(table_.entries[kHttpDownloadEntry]);
    set_timeout_ = reinterpret_cast<HttpSetTimeoutFunction>(table_.entries[kHttpSetTimeoutEntry]);
  }
  void TearDown() override {
    if (handle_ != nullptr) dlclose(handle_);
  }

  void* handle_ = nullptr;
  HttpInterface table_{};
  HttpDownloadFunction download_ = nullptr;
  HttpSetTimeoutFunction set_timeout_ = nullptr;
  SetUserAgentFunction set_user_agent_ = nullptr;
  TestHttpServer server_;
  TempFolder folder_;
};

TEST(DownloadLibraryFile, ExportsOnlyItsTwoEntryPoints) {
  // Symbols of the implementation, of libstdc++ and of libcurl stay inside the library, so that
  // it cannot clash with the host's own copies.
  bool ok = false;
  auto exported = scratch::ExportedSymbols(std::string(FETCH_TEST_DIST_DIR) + "orvohttp8.so", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(exported, (std::set<std::string>{"GetHttpInterface", "SetUserAgent"}));
}

TEST_F(DownloadLibraryTest, FillsEveryEntryAndTheUnusedOnesFail) {
  for (int i = 0; i < kHttpInterfaceEntries; ++i) {
    ASSERT_NE(table_.entries[i], nullptr) << i;
    if (i == kHttpDownloadEntry || i == kHttpDownloadCheckedEntry || i == kHttpSetTimeoutEntry) {
      continue;
    }
    EXPECT_EQ(reinterpret_cast<int32_t (*)(void)>(table_.entries[i])(), 0) << i;
  }
  EXPECT_EQ(reinterpret_cast<GetHttpInterfaceFunction>(dlsym(handle_, "GetHttpInterface"))(nullptr),
            0);
}

TEST_F(DownloadLibraryTest, RefusesNonZeroReservedArgumentsAndNullTexts) {
  server_.AddFile("a.png", "x");
  std::string url = server_.Url("/files/a.png"), out = folder_.path() + "a.png";
  EXPECT_EQ(download_(url.c_str(), out.c_str(), 1, 0), 0);
  EXPECT_EQ(download_(url.c_str(), out.c_str(), 0, 1), 0);
  EXPECT_EQ(download_(nullptr, out.c_str(), 0, 0), 0);
  EXPECT_EQ(download_(url.c_str(), nullptr, 0, 0), 0);
  EXPECT_EQ(set_user_agent_(nullptr), 0);
  EXPECT_TRUE(server_.requests().empty());
  EXPECT_NE(download_(url.c_str(), out.c_str(), 0, 0), 0);
}

TEST_F(DownloadLibraryTest, SendsTheUserAgentItWasGiven) {
  server_.AddFile("a.png", "x");
  std::string url = server_.Url("/files/a.png"), out = folder_.path() + "a.png";
  ASSERT_NE(set_user_agent_("Tester/2"), 0);
  ASSERT_NE(download_(url.c_str(), out.c_str(), 0, 0), 0);
  ASSERT_NE(set_user_agent_(""), 0);
  ASSERT_NE(download_(url.c_str(), out.c_str(), 0, 0), 0);
  auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].user_agent, "Tester/2");
  EXPECT_EQ(requests[1].user_agent, "orvohttp8/1.0");
}

TEST_F(DownloadLibraryTest, TheTimeoutIsATotalLimitInMilliseconds) {
  EXPECT_EQ(set_timeout_(0), 0);
  EXPECT_EQ(set_timeout_(-5), 0);
  ASSERT_NE(set_timeout_(400), 0);
  // The body keeps arriving, 100 ms apart; only a limit on the whole transfer ends it.
  std::string url = server_.Url("/slow/1000"), out = folder_.path() + "a.png";
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(download_(url.c_str(), out.c_str(), 0, 0), 0);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(350));
  EXPECT_LT(elapsed, std::chrono::milliseconds(900));
  EXPECT_TRUE(folder_.Names().empty());
  ASSERT_NE(set_timeout_(3000), 0);
  EXPECT_NE(download_(url.c_str(), out.c_str(), 0, 0), 0);
}

}  // namespace
