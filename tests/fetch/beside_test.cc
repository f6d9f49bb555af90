// The service's own lookup: this test executable lies beside (a link to) the download library,
// as the service does in its installation folder.
#include <gtest/gtest.h>

#include "fetch/download_url.h"
#include "fetch/temp_folder.h"
#include "fetch/test_http_server.h"
#include "fetch/xhttp.h"

namespace {

TEST(DownloadUrlBesideExecutable, LoadsTheLibraryFromTheExecutablesFolder) {
  EXPECT_TRUE(XHttp().Load());
  TestHttpServer server;
  server.AddFile("a.png", std::string(5000, 'a'));
  TempFolder folder;
  ASSERT_NE(DownloadUrl(server.Url("/files/a.png"), folder.path() + "a.png"), 0);
  EXPECT_EQ(ReadFile(folder.path() + "a.png"), std::string(5000, 'a'));
}

}  // namespace
