// The service on a machine with other accounts: a request folder swapped for a link while a
// request works in it, and a client of another user.
#include <gtest/gtest.h>
#include <httplib.h>
#include <json/json.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "integration/command_service_test.h"
#include "support/scratch_folder.h"

namespace {

using scratch::ScratchFolder;

// A page and, before it, a part big enough that the swap below lands while the archive is still
// being written; then a part whose name would start a program at the next log-in.
std::string ArchiveWithAutostartPart() {
  std::string big((3 << 20) / 76 * 77, 'A');
  for (size_t at = 76; at < big.size(); at += 77) big[at] = '\n';
  return "MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=\"B\"\r\n\r\n"
         "--B\r\nContent-Type: application/octet-stream; name=\"big.bin\"\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\n" + big + "\r\n"
         "--B\r\nContent-Type: application/x-desktop; name=\"x.desktop\"\r\n\r\n"
         "[Desktop Entry]\r\n"
         "--B\r\nContent-Type: text/html\r\n\r\n<p>page</p>\r\n--B--\r\n";
}

// Replaces every request folder made under root by a link to target as soon as it appears, as
// another user who may write to root would, until stop is set. Returns the number of swaps.
int SwapFoldersForLinks(const std::string& root, const std::string& target,
                        const std::atomic<bool>& stop) {
  int inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  inotify_add_watch(inotify, root.c_str(), IN_CREATE | IN_ONLYDIR);
  int swaps = 0;
  alignas(inotify_event) char buffer[4096];
  while (!stop) {
    ssize_t got = read(inotify, buffer, sizeof buffer);
    for (char* at = buffer; got > 0 && at < buffer + got;) {
      auto* event = reinterpret_cast<inotify_event*>(at);
      std::string path = root + "/" + event->name;
      if ((event->mask & IN_ISDIR) && rename(path.c_str(), (path + ".moved").c_str()) == 0 &&
          symlink(target.c_str(), path.c_str()) == 0) {
        ++swaps;
      }
      at += sizeof(inotify_event) + event->len;
    }
    if (got <= 0) usleep(200);
  }
  close(inotify);
  return swaps;
}

class LocalUsersTest : public service_test::CommandServiceTest {
 protected:
  LocalUsersTest() : CommandServiceTest("cfp-0002") {}
};

// Swapped folders under the private root (temppath "") and under a folder of the user's that
// others may write to: the private key in the link's target never reaches an answer, and no part
// is written there.
TEST_F(LocalUsersTest, RequestFolderSwappedForALinkChangesNothing) {
  ScratchFolder victim;
  scratch::WriteFile(victim / "id_rsa", "PRIVATE KEY");
  ScratchFolder user_folder;
  ASSERT_EQ(mkdir((user_folder / "TAVU").c_str(), 0777), 0);
  ASSERT_EQ(chmod((user_folder / "TAVU").c_str(), 0777), 0);
  ASSERT_EQ(mkdir((temp_ / "TAVU").c_str(), 0700), 0);
  const std::string archive = ArchiveWithAutostartPart();
  for (const std::string& temp_path : {std::string(), user_folder.path()}) {
    SCOPED_TRACE(temp_path);
    std::string root = (temp_path.empty() ? temp_.path() : temp_path) + "/TAVU";
    std::atomic<bool> stop{false};
    int swaps = 0;
    std::thread swapper([&] { swaps = SwapFoldersForLinks(root, victim.path(), stop); });
    for (int attempt = 0; attempt < 10; ++attempt) {
      Json::Value pdu;
      pdu["temppath"] = temp_path;
      pdu["mimevalue"] = archive;
      auto res = Post(pdu);
      ASSERT_TRUE(res);
      // Refused (4) when every folder made was swapped before it could be opened.
      Json::Value answer = Answer(res);
      std::string html = answer["pdu"]["html"].asString();
      EXPECT_TRUE(answer["error"] == 0 ? html == "<p>page</p>" : answer["error"] == 4) << html;
      EXPECT_EQ(res->body.find("id_rsa"), std::string::npos);
      EXPECT_EQ(res->body.find("UFJJVkFURSBLRVk"), std::string::npos);  // base64 of the key
    }
    stop = true;
    swapper.join();
    EXPECT_GT(swaps, 0);
  }
  EXPECT_EQ(scratch::CountEntries(victim.path()), 1);
  EXPECT_EQ(scratch::ReadFile(victim / "id_rsa"), "PRIVATE KEY");
}

// Another account's client gets no TLS answer at all (openssl s_client fails); the refusal is
// logged once.
TEST_F(LocalUsersTest, ClientOfAnotherUserIsCutOffBeforeTls) {
  std::string command = "setpriv --reuid=65534 --regid=65534 --clear-groups openssl s_client "
                        "-connect 127.0.0.1:" + std::to_string(service_test::kPort) +
                        " </dev/null >/dev/null 2>&1";
  EXPECT_NE(std::system(command.c_str()), 0);
  std::string log = service_.OutputOnceItHas("] of user 65534\n");
  EXPECT_NE(log.find("refused connection [127.0.0.1:"), std::string::npos) << log;
  EXPECT_NE(log.find("] of user 65534\n"), std::string::npos) << log;
}

}  // namespace
