// The peer-user seam's contract, run against both ways of reading the socket table: a client of
// this user and one started under another uid through setpriv.
#include "platform/peer_user.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

constexpr uint32_t kOtherUid = 65534;

class PeerUserTest : public ::testing::TestWithParam<SocketTable> {
 protected:
  void SetUp() override {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener_, 4), 0);
    ASSERT_EQ(::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length), 0);
    port_ = ntohs(address.sin_port);
  }
  void TearDown() override { ::close(listener_); }

  // Connects with a shell under the given setpriv prefix ("" for this user) that holds the
  // connection for two seconds; returns the owner found for the accepted connection.
  PeerUser OwnerOfClient(const std::string& setpriv) {
    std::string command = setpriv + " bash -c 'exec 3<>/dev/tcp/127.0.0.1/" +
                          std::to_string(port_) + "; sleep 2' &";
    EXPECT_EQ(std::system(command.c_str()), 0);
    int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    PeerUser user = FindPeerUser(connection, GetParam());
    ::close(connection);
    return user;
  }

  int listener_ = -1;
  uint16_t port_ = 0;
};

TEST_P(PeerUserTest, FindsTheUserOfTheClientsSocket) {
  struct Row {
    std::string setpriv;
    uint32_t uid;
  } const rows[] = {
      {"", static_cast<uint32_t>(::geteuid())},
      {"setpriv --reuid=" + std::to_string(kOtherUid) + " --regid=" + std::to_string(kOtherUid) +
           " --clear-groups",
       kOtherUid},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.setpriv);
    PeerUser user = OwnerOfClient(row.setpriv);
    EXPECT_TRUE(user.found);
    EXPECT_EQ(user.uid, row.uid);
    EXPECT_EQ(user.peer.rfind("127.0.0.1:", 0), 0u) << user.peer;
  }
}

TEST_P(PeerUserTest, ASocketWithoutPeerHasNoOwner) {
  EXPECT_FALSE(FindPeerUser(listener_, GetParam()).found);
}

INSTANTIATE_TEST_SUITE_P(BothTables, PeerUserTest,
                         ::testing::Values(SocketTable::kDiagnostics, SocketTable::kText));

}  // namespace
