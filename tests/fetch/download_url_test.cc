// DownloadUrl through the real download library and a local server.
#include "fetch/download_url.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "fetch/temp_folder.h"
#include "fetch/test_http_server.h"

namespace {

const std::string kLibraryFolder = FETCH_TEST_DIST_DIR;

// Every byte value, so that no conversion of the body goes unnoticed.
std::string BinaryBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return bytes;
}

class DownloadUrlTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    server_.AddFile("a.png", BinaryBytes(70000));
    server_.AddFile("a b.png", "blank in the name");
    server_.AddFile("\xED\x95\x9C\xEA\xB8\x80.png", "korean name");
    server_.AddFile("a%20b.png", "percent in the name");
  }

  int Download(const std::string& url, const std::string& name) {
    return DownloadUrl(url, folder_.path() + name, kLibraryFolder);
  }
  std::string Read(const std::string& name) { return ReadFile(folder_.path() + name); }
  std::string LastTarget() {
    auto requests = server_.requests();
    return requests.empty() ? std::string() : requests.back().target;
  }
  // After a failed download the folder holds exactly what it held before.
  void ExpectNothingWritten() { EXPECT_EQ(folder_.Names(), std::set<std::string>{}); }

  TestHttpServer server_;
  TempFolder folder_;
};

TEST_F(DownloadUrlTest, WritesTheBodyByteForByte) {
  ASSERT_NE(Download(server_.Url("/files/a.png"), "out.png"), 0);
  EXPECT_EQ(Read("out.png"), BinaryBytes(70000));
  EXPECT_EQ(folder_.Names(), std::set<std::string>{"out.png"});
  EXPECT_EQ(server_.requests().back().user_agent, "orvohttp8/1.0");
  // Loaded for the one download only.
  void* still_loaded = dlopen((kLibraryFolder + "orvohttp8.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(still_loaded, nullptr);
  if (still_loaded != nullptr) dlclose(still_loaded);
}

TEST_F(DownloadUrlTest, ReplacesAnExistingFile) {
  WriteFile(folder_.path() + "out.png", "old content that is longer than the new one....");
  server_.AddFile("short.png", "new");
  ASSERT_NE(Download(server_.Url("/files/short.png"), "out.png"), 0);
  EXPECT_EQ(Read("out.png"), "new");
}

TEST_F(DownloadUrlTest, ReadsAChunkedBody) {
  ASSERT_NE(Download(server_.Url("/chunked/a.png"), "out.png"), 0);
  EXPECT_EQ(Read("out.png"), BinaryBytes(70000));
}

TEST_F(DownloadUrlTest, FetchesBlanksAndKoreanInThePathAsEscapes) {
  ASSERT_NE(Download(server_.Url("/files/a b.png"), "1.png"), 0);
  EXPECT_EQ(LastTarget(), "/files/a%20b.png");
  EXPECT_EQ(Read("1.png"), "blank in the name");

  ASSERT_NE(Download(server_.Url("/files/\xED\x95\x9C\xEA\xB8\x80.png"), "2.png"), 0);
  EXPECT_EQ(LastTarget(), "/files/%ed%95%9c%ea%b8%80.png");
  EXPECT_EQ(Read("2.png"), "korean name");
}

TEST_F(DownloadUrlTest, KeepsEscapesThatAreAlreadyThere) {
  ASSERT_NE(Download(server_.Url("/files/a%20b.png"), "1.png"), 0);
  EXPECT_EQ(LastTarget(), "/files/a%20b.png");
  EXPECT_EQ(Read("1.png"), "blank in the name");
  // A literal percent sign in a name is reached by its own escape.
  ASSERT_NE(Download(server_.Url("/files/a%2520b.png"), "2.png"), 0);
  EXPECT_EQ(Read("2.png"), "percent in the name");
}

TEST_F(DownloadUrlTest, DoesNotSendTheFragment) {
  ASSERT_NE(Download(server_.Url("/files/a b.png#section 2"), "1.png"), 0);
  EXPECT_EQ(LastTarget(), "/files/a%20b.png");
  ASSERT_NE(Download(server_.Url("/files/a.png?v=1#top"), "2.png"), 0);
  EXPECT_EQ(LastTarget(), "/files/a.png?v=1");
}

TEST_F(DownloadUrlTest, SendsAUrlWithQueryAsWrittenSaveUnsendableBytes) {
  ASSERT_NE(Download(server_.Url("/files/a.png?w=1&name=%41~+"), "1.png"), 0);
  EXPECT_EQ(LastTarget(), "/files/a.png?w=1&name=%41~+");
  // Blanks and Korean in a query cannot go on the wire raw; the library escapes them.
  ASSERT_NE(Download(server_.Url("/files/a b.png?q=\xED\x95\x9C x"), "2.png"), 0);
  EXPECT_EQ(LastTarget(), "/files/a%20b.png?q=%ED%95%9C%20x");
  EXPECT_EQ(Read("2.png"), "blank in the name");
}

TEST_F(DownloadUrlTest, FollowsARedirect) {
  ASSERT_NE(Download(server_.Url("/redirect/files/a.png"), "out.png"), 0);
  EXPECT_EQ(Read("out.png"), BinaryBytes(70000));
}

TEST_F(DownloadUrlTest, FailsOnErrorAnswersWithoutWritingAnything) {
  const char* targets[] = {"/files/missing.png", "/status/404", "/status/500",     "/status/403",
                           "/status/304",        "/loop",       "/redirect-scheme"};
  for (const char* target : targets) {
    EXPECT_EQ(Download(server_.Url(target), "out.png"), 0) << target;
  }
  ExpectNothingWritten();
}

TEST_F(DownloadUrlTest, StopsFollowingARedirectLoop) {
  EXPECT_EQ(Download(server_.Url("/loop"), "out.png"), 0);
  // The first request and a bounded number of redirects.
  EXPECT_LE(server_.requests().size(), 12u);
}

TEST_F(DownloadUrlTest, LeavesTheOldFileWhenTheNewBodyIsCutOff) {
  WriteFile(folder_.path() + "out.png", "previous");
  EXPECT_EQ(Download(server_.Url("/truncated"), "out.png"), 0);
  EXPECT_EQ(Download(server_.Url("/truncated-chunked"), "out.png"), 0);
  EXPECT_EQ(Read("out.png"), "previous");
  EXPECT_EQ(folder_.Names(), std::set<std::string>{"out.png"});
}

TEST_F(DownloadUrlTest, RefusesOtherSchemesAndEmptyTexts) {
  const std::string urls[] = {"file:///etc/hostname",
                              "FILE:///etc/hostname",
                              "ftp://127.0.0.1/a",
                              "gopher://127.0.0.1/a",
                              "127.0.0.1/a.png",
                              "javascript:alert(1)",
                              "data:image/png;base64,iVBORw0KGgo=",
                              ""};
  for (const std::string& url : urls) EXPECT_EQ(Download(url, "out.png"), 0) << url;
  EXPECT_EQ(DownloadUrl(server_.Url("/files/a.png"), "", kLibraryFolder), 0);
  ExpectNothingWritten();
  EXPECT_TRUE(server_.requests().empty());
}

TEST_F(DownloadUrlTest, FailsWhenTheDestinationFolderIsMissingOrTheNameIsAFolder) {
  EXPECT_EQ(Download(server_.Url("/files/a.png"), "missing/out.png"), 0);
  std::filesystem::create_directory(folder_.path() + "sub");
  EXPECT_EQ(Download(server_.Url("/files/a.png"), "sub"), 0);
  EXPECT_EQ(folder_.Names(), std::set<std::string>{"sub"});
  EXPECT_TRUE(std::filesystem::is_empty(folder_.path() + "sub"));
}

TEST_F(DownloadUrlTest, FailsOnARefusedConnection) {
  std::string url = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/a.png";
  EXPECT_EQ(Download(url, "out.png"), 0);
  ExpectNothingWritten();
}

TEST_F(DownloadUrlTest, FinishesASlowBodyWithinTheTimeLimit) {
  ASSERT_NE(Download(server_.Url("/slow/800"), "out.png"), 0);
  EXPECT_EQ(Read("out.png").size(), 10000u);
}

TEST_F(DownloadUrlTest, GivesUpOnABodyThatOutlastsTheTimeLimit) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Download(server_.Url("/slow/6000"), "out.png"), 0);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::milliseconds(kDownloadTimeoutMs + 1500));
  ExpectNothingWritten();
}

TEST_F(DownloadUrlTest, GivesUpOnAServerThatNeverAnswers) {
  SilentServer silent;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Download(silent.Url("/a.png"), "out.png"), 0);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(kDownloadTimeoutMs - 100));
  EXPECT_LT(elapsed, std::chrono::milliseconds(kDownloadTimeoutMs + 1500));
  ExpectNothingWritten();
}

TEST_F(DownloadUrlTest, DownloadsOnManyThreadsAtOnce) {
  // Each download loads and unloads the library; loads overlap on the threads.
  constexpr int kThreads = 8, kPerThread = 10;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        std::string name = std::to_string(t) + "_" + std::to_string(i) + ".png";
        if (Download(server_.Url("/files/a.png"), name) == 0) ++failures[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
  auto names = folder_.Names();
  ASSERT_EQ(names.size(), static_cast<size_t>(kThreads * kPerThread));
  for (const std::string& name : names) EXPECT_EQ(Read(name), BinaryBytes(70000)) << name;
}

}  // namespace

TEST(DownloadWithin, StopsFetchingOnceTheRequestsBytesOrTimeAreSpent) {
  TestHttpServer server;
  TempFolder folder;
  server.AddFile("k.css", std::string(1000, 'k'));
  server.AddFile("tiny.css", "p{}");
  const struct {
    const char* name;
    int64_t bytes;
    std::chrono::milliseconds time;
    const char* first;  // then then_route, then tiny.css
    const char* then_route;  // chunked: the size is found out while it is received
    DownloadOutcome second;
    DownloadOutcome third;  // never fetched once the budget is spent
    size_t requests;
  } rows[] = {
      {"room for two", 2003, std::chrono::milliseconds(5000), "/files/k.css", "/chunked/k.css",
       DownloadOutcome::kDone, DownloadOutcome::kDone, 3},
      {"bytes run out in the second", 1500, std::chrono::milliseconds(5000), "/files/k.css",
       "/files/k.css", DownloadOutcome::kTooLarge, DownloadOutcome::kTooLarge, 2},
      {"bytes run out in a chunked second", 1500, std::chrono::milliseconds(5000), "/files/k.css",
       "/chunked/k.css", DownloadOutcome::kTooLarge, DownloadOutcome::kTooLarge, 2},
      {"bytes spent by the first", 1000, std::chrono::milliseconds(5000), "/files/k.css",
       "/files/k.css", DownloadOutcome::kTooLarge, DownloadOutcome::kTooLarge, 1},
      {"time runs out in the first", 1 << 20, std::chrono::milliseconds(300), "/slow/2000",
       "/files/k.css", DownloadOutcome::kTimedOut, DownloadOutcome::kTimedOut, 1},
  };
  for (const auto& row : rows) {
    size_t before = server.requests().size();
    DownloadBudget budget(row.bytes, row.time);
    DownloadWithin(server.Url(row.first), folder.path() + "1", budget, kLibraryFolder);
    DownloadReport second =
        DownloadWithin(server.Url(row.then_route), folder.path() + "2", budget, kLibraryFolder);
    DownloadReport third =
        DownloadWithin(server.Url("/files/tiny.css"), folder.path() + "3", budget, kLibraryFolder);
    EXPECT_EQ(second.outcome, row.second) << row.name;
    EXPECT_EQ(third.outcome, row.third) << row.name;
    EXPECT_EQ(server.requests().size() - before, row.requests) << row.name;
    EXPECT_EQ(folder.Names().count("2"), second.ok() ? 1u : 0u) << row.name;
    EXPECT_EQ(second.content_type, second.ok() ? "text/css" : second.content_type) << row.name;
    for (const char* name : {"1", "2", "3"}) std::remove((folder.path() + name).c_str());
  }
}
