#include "fetch/xhttp.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "fetch/content_length.h"
#include "fetch/download_url.h"
#include "fetch/mime_type.h"
#include "fetch/temp_folder.h"
#include "fetch/test_http_server.h"

namespace {

std::string FakeFolder(const std::string& variant) {
  return std::string(FETCH_TEST_FAKE_ROOT) + variant + "/";
}

// Whether the library file in folder is loaded in this process right now.
bool IsLoadedInProcess(const std::string& folder) {
  void* handle = dlopen((folder + XHttp::kLibraryFileName).c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

TEST(XHttp, StaysUnloadedWithoutTheLibrary) {
  TempFolder empty;
  XHttp http(empty.path());
  EXPECT_FALSE(http.Load());
  EXPECT_FALSE(http.IsLoaded());
  EXPECT_EQ(http.SetTimeout(3000), 0);
  EXPECT_EQ(http.SetUserAgent(""), 0);
  EXPECT_EQ(http.Download("http://127.0.0.1/a.png", empty.path() + "a.png"), 0);
}

TEST(XHttp, RefusesALibraryThatLacksAnExportOrFailsToFillTheTable) {
  for (const char* variant : {"without_get_interface", "interface_fails", "without_user_agent"}) {
    std::string folder = FakeFolder(variant);
    ASSERT_EQ(access((folder + XHttp::kLibraryFileName).c_str(), R_OK), 0) << folder;
    XHttp http(folder);
    EXPECT_FALSE(http.Load()) << variant;
    EXPECT_EQ(http.Download("http://127.0.0.1/a.png", "/nonexistent/a.png"), 0) << variant;
    // A refused library is not kept loaded.
    EXPECT_FALSE(IsLoadedInProcess(folder)) << variant;
    EXPECT_EQ(DownloadUrl("http://127.0.0.1/a.png", "/nonexistent/a.png", folder), 0) << variant;
  }
}

TEST(XHttp, UnloadsTheLibraryWhenDestroyed) {
  std::string folder = FakeFolder("recording");
  {
    XHttp http(folder);
    ASSERT_TRUE(http.Load());
    EXPECT_TRUE(http.Load());  // Loaded: answers at once.
    EXPECT_TRUE(IsLoadedInProcess(folder));
  }
  EXPECT_FALSE(IsLoadedInProcess(folder));
  DownloadUrl("http://127.0.0.1/a.png", "/nonexistent/a.png", folder);
  EXPECT_FALSE(IsLoadedInProcess(folder));
}

// The service's side of the contract, seen from a library that records its calls. The test
// holds its own load so the recorded calls outlive the service's unload.
class DownloadUrlCallsTest : public testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen((FakeFolder("recording") + XHttp::kLibraryFileName).c_str(), RTLD_NOW);
    ASSERT_NE(handle_, nullptr);
    recorded_ = reinterpret_cast<const char* (*)(const char*)>(dlsym(handle_, "FakeRecorded"));
    ASSERT_NE(recorded_, nullptr);
  }
  void TearDown() override {
    if (handle_ != nullptr) dlclose(handle_);
  }
  std::string Recorded(const char* what) { return recorded_(what); }

  void* handle_ = nullptr;
  const char* (*recorded_)(const char*) = nullptr;
};

TEST_F(DownloadUrlCallsTest, SetsTimeoutAndAgentThenDownloadsTheRequestUrl) {
  int result = DownloadUrl("http://127.0.0.1:9/\xED\x95\x9C b.png#top", "/dest/\xED\x95\x9C.png",
                           FakeFolder("recording"));
  EXPECT_EQ(result, 7);  // The library's own answer, passed on.
  EXPECT_EQ(Recorded("set_timeout_calls"), "1");
  EXPECT_EQ(Recorded("timeout"), std::to_string(kDownloadTimeoutMs));
  EXPECT_EQ(Recorded("user_agent"), "");
  EXPECT_EQ(Recorded("downloads"), "1");
  EXPECT_EQ(Recorded("url"), "http://127.0.0.1:9/%ed%95%9c%20b.png");
  EXPECT_EQ(Recorded("destination"), "/dest/\xED\x95\x9C.png");
  EXPECT_EQ(Recorded("reserved"), "0,0");
}

TEST_F(DownloadUrlCallsTest, DoesNotDownloadWithoutUrlOrDestination) {
  EXPECT_EQ(DownloadUrl("", "/dest/a.png", FakeFolder("recording")), 0);
  EXPECT_EQ(DownloadUrl("http://127.0.0.1:9/a.png", "", FakeFolder("recording")), 0);
  EXPECT_EQ(Recorded("downloads"), "0");
  // The time limit is set on every load, before the texts are looked at.
  EXPECT_EQ(Recorded("set_timeout_calls"), "2");
}

TEST(DownloadUrlWithoutLibrary, FailsEveryDownloadWhileOtherOperationsWork) {
  // The test executable's own folder holds no download library: the service's lookup.
  TestHttpServer server;
  server.AddFile("a.png", "png bytes");
  TempFolder folder;
  EXPECT_EQ(DownloadUrl(server.Url("/files/a.png"), folder.path() + "a.png"), 0);
  EXPECT_NE(access((folder.path() + "a.png").c_str(), F_OK), 0);
  EXPECT_EQ(GetUrlContentLength(server.Url("/files/a.png")), 9);
  EXPECT_EQ(GetMimeTypeFromUrl(server.Url("/files/a.png")), "image/png");
}

}  // namespace
