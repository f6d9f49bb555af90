#include "fetch/content_length.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "fetch/test_http_server.h"

namespace {

class GetUrlContentLengthTest : public testing::Test {
 protected:
  void SetUp() override {
    server_.AddFile("a.png", std::string(12345, 'p'));
    server_.AddFile("empty.css", "");
    server_.AddFile("a b.png", "blank");
  }
  TestHttpServer server_;
};

TEST_F(GetUrlContentLengthTest, AnswersTheLengthWithoutTheBody) {
  EXPECT_EQ(GetUrlContentLength(server_.Url("/files/a.png")), 12345);
  EXPECT_EQ(GetUrlContentLength(server_.Url("/files/a b.png")), 5);
  EXPECT_EQ(GetUrlContentLength(server_.Url("/files/a.png#part")), 12345);
  auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].target, "/files/a%20b.png");
  EXPECT_EQ(requests[2].target, "/files/a.png");
  EXPECT_EQ(requests[0].user_agent, "KeldraPlugins");
}

TEST_F(GetUrlContentLengthTest, AnswersZeroForAnEmptyResource) {
  EXPECT_EQ(GetUrlContentLength(server_.Url("/files/empty.css")), 0);
}

TEST_F(GetUrlContentLengthTest, FollowsRedirects) {
  EXPECT_EQ(GetUrlContentLength(server_.Url("/redirect/files/a.png")), 12345);
}

TEST_F(GetUrlContentLengthTest, AnswersMinusOneWhenTheUrlCannotBeOpened) {
  const std::string urls[] = {
      server_.Url("/files/missing.png"),
      server_.Url("/status/500"),
      server_.Url("/loop"),
      server_.Url("/redirect-scheme"),
      "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/a.png",
      "file:///etc/hostname",
      "ftp://127.0.0.1/a.png",
      "not a url",
      "",
  };
  for (const std::string& url : urls) EXPECT_EQ(GetUrlContentLength(url), -1) << url;
}

TEST_F(GetUrlContentLengthTest, AnswersMinusOneWithoutAContentLength) {
  server_.AddFile("c.png", "chunked bytes");
  EXPECT_EQ(GetUrlContentLength(server_.Url("/chunked/c.png")), -1);
}

TEST(GetUrlContentLengthSilent, GivesUpAtTheTimeLimit) {
  SilentServer silent;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(GetUrlContentLength(silent.Url("/a.png")), -1);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(kContentLengthTimeoutMs - 100));
  EXPECT_LT(elapsed, std::chrono::milliseconds(kContentLengthTimeoutMs + 1500));
}

}  // namespace
