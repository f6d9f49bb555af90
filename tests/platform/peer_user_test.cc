// The peer-user seam's contract, run against both ways of reading the socket table: a client of
// this user and one started under another uid through setpriv.
#include "platform/peer_user.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

class PeerUserTest : public ::testing::TestWithParam<SocketTable> {};

TEST_P(PeerUserTest, FindsTheUserOfTheClientsSocket) {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  EXPECT_FALSE(FindPeerUser(listener, GetParam()).found);  // no peer at all
  const uint32_t own = ::geteuid();
  for (uint32_t uid : {own, 65534u}) {
    SCOPED_TRACE(uid);
    std::string user = std::to_string(uid);
    std::string setpriv = uid == own ? "" : "setpriv --reuid=" + user + " --regid=" + user +
                                                " --clear-groups ";
    // The client holds its connection open while it is looked up.
    std::string command = setpriv + "bash -c 'exec 3<>/dev/tcp/127.0.0.1/" +
                          std::to_string(ntohs(address.sin_port)) + "; sleep 2' &";
    ASSERT_EQ(std::system(command.c_str()), 0);
    int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    PeerUser peer = FindPeerUser(connection, GetParam());
    ::close(connection);
    EXPECT_TRUE(peer.found);
    EXPECT_EQ(peer.uid, uid);
    EXPECT_EQ(peer.peer.rfind("127.0.0.1:", 0), 0u) << peer.peer;
  }
  ::close(listener);
}

INSTANTIATE_TEST_SUITE_P(BothTables, PeerUserTest,
                         ::testing::Values(SocketTable::kDiagnostics, SocketTable::kText));

}  // namespace
