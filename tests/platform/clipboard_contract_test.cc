// The contract every clipboard back end keeps, run against each one (today: X11 with a test
// owner on a private Xvfb), and the X11 back end's own failure cases.

#include <X11/Xauth.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clipboard.h"
#include "platform/window_system.h"
#include "support/scratch_folder.h"
#include "support/x_display.h"

namespace {

using std::chrono::milliseconds;
using xtest::Offers;

enum class OwnerMode { kNormal, kHang, kRefuse, kDieMidIncr };

// Puts content on the X11 clipboard through the test owner.
class X11Backend {
 public:
  bool ready() const { return server_.ok(); }

  bool Offer(const Offers& offers, OwnerMode mode = OwnerMode::kNormal, size_t chunk = 65536) {
    owner_.reset();
    std::vector<std::string> flags{"--chunk", std::to_string(chunk)};
    if (mode == OwnerMode::kHang) flags.push_back("--hang");
    if (mode == OwnerMode::kRefuse) flags.push_back("--refuse");
    if (mode == OwnerMode::kDieMidIncr) flags.push_back("--die-mid-incr");
    owner_ = xtest::OfferOnClipboard(folder_.path(), offers, flags);
    return owner_->ok();
  }

  // Ends the owner without handing the clipboard to anyone.
  void Clear() { owner_.reset(); }

 private:
  xtest::XServer server_;
  scratch::ScratchFolder folder_;
  std::unique_ptr<xtest::ClipboardOwner> owner_;
};

template <typename Backend>
class ClipboardContractTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(backend_.ready()); }
  Backend backend_;
};

using Backends = ::testing::Types<X11Backend>;
TYPED_TEST_SUITE(ClipboardContractTest, Backends);

// Bytes that text handling would spoil: a NUL inside, high bytes, CR LF.
std::string AwkwardBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 7) & 0xff);
  return bytes;
}

std::string ReadTarget(ClipboardSnapshot& snapshot, const std::string& target) {
  std::string data = "stale";
  EXPECT_TRUE(snapshot.Read(target, &data)) << target;
  return data;
}

// A failed read must also empty the caller's buffer, so no stale bytes pass for clipboard data.
void ExpectNoData(ClipboardSnapshot& snapshot, const std::string& target) {
  std::string data = "stale";
  EXPECT_FALSE(snapshot.Read(target, &data)) << target;
  EXPECT_EQ(data, "") << target;
}

TYPED_TEST(ClipboardContractTest, OffersSeveralTargetsAndReadsEachByteForByte) {
  const Offers offers = {{"text/html", "<b>caf\xC3\xA9</b>"},
                         {"UTF8_STRING", "caf\xC3\xA9\r\n"},
                         {"image/png", AwkwardBytes(1000)},
                         {"text/plain;charset=utf-8", std::string("a\0b", 3)}};
  ASSERT_TRUE(this->backend_.Offer(offers));
  auto snapshot = TakeClipboardSnapshot();
  EXPECT_EQ(snapshot->Targets(), (std::vector<std::string>{"text/html", "UTF8_STRING", "image/png",
                                                           "text/plain;charset=utf-8"}));
  for (const auto& [target, bytes] : offers) {
    EXPECT_EQ(ReadTarget(*snapshot, target), bytes) << target;
  }
  ExpectNoData(*snapshot, "image/tiff");
  EXPECT_FALSE(snapshot->Offers("TARGETS"));
}

TYPED_TEST(ClipboardContractTest, LargeDataArrivesWholeInPieces) {
  struct Row {
    size_t size;
    size_t chunk;
  };
  const Row rows[] = {{65537, 65536}, {100000, 1000}, {24 * 1024 * 1024, 262144}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.size);
    const std::string bytes = AwkwardBytes(row.size);
    ASSERT_TRUE(this->backend_.Offer({{"image/png", bytes}}, OwnerMode::kNormal, row.chunk));
    auto snapshot = TakeClipboardSnapshot();
    std::string data;
    ASSERT_TRUE(snapshot->Read("image/png", &data));
    EXPECT_TRUE(data == bytes) << "arrived as " << data.size();
    EXPECT_EQ(data.c_str()[data.size()], '\0');
  }
}

TYPED_TEST(ClipboardContractTest, ConcurrentSnapshotsEachReadTheirOwnCopy) {
  const std::string bytes = AwkwardBytes(3 * 1024 * 1024 + 17);
  ASSERT_TRUE(this->backend_.Offer({{"image/png", bytes}, {"UTF8_STRING", "x"}}, OwnerMode::kNormal,
                                   100000));
  std::vector<int> good(8, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      auto snapshot = TakeClipboardSnapshot();
      std::string data;
      good[t] = snapshot->Read("image/png", &data) && data == bytes;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(good, std::vector<int>(8, 1));
}

TYPED_TEST(ClipboardContractTest, ASnapshotNeverMixesTwoCopiesAndAnEmptyClipboardOffersNothing) {
  ASSERT_TRUE(this->backend_.Offer({{"text/html", "<i>first</i>"}, {"UTF8_STRING", "first"}}));
  auto snapshot = TakeClipboardSnapshot();
  EXPECT_EQ(ReadTarget(*snapshot, "text/html"), "<i>first</i>");
  ASSERT_TRUE(this->backend_.Offer({{"text/html", "<i>second</i>"}, {"UTF8_STRING", "second"}}));
  ExpectNoData(*snapshot, "UTF8_STRING");
  EXPECT_EQ(ReadTarget(*TakeClipboardSnapshot(), "UTF8_STRING"), "second");

  this->backend_.Clear();  // an empty clipboard offers nothing
  snapshot = TakeClipboardSnapshot();
  EXPECT_TRUE(snapshot->Targets().empty());
  ExpectNoData(*snapshot, "UTF8_STRING");
}

// Owners that misbehave cost at most the wait limit and read as "no data".
TYPED_TEST(ClipboardContractTest, MisbehavingOwnersGiveNoDataWithinTheLimit) {
  struct Row {
    OwnerMode mode;
    bool targets_listed;
  };
  const Row rows[] = {
      {OwnerMode::kHang, false}, {OwnerMode::kRefuse, true}, {OwnerMode::kDieMidIncr, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.mode));
    ASSERT_TRUE(this->backend_.Offer({{"image/png", AwkwardBytes(300000)}}, row.mode, 1000));
    const auto start = std::chrono::steady_clock::now();
    auto snapshot = TakeClipboardSnapshot(milliseconds(500));
    std::string data = "stale";
    EXPECT_FALSE(snapshot->Read("image/png", &data));
    EXPECT_FALSE(snapshot->Read("image/png", &data));
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(data, "");
    EXPECT_EQ(snapshot->Offers("image/png"), row.targets_listed);
    EXPECT_LT(spent, milliseconds(1400));
  }
}

// Owners that answer every wait in time but would hold a request or its memory without end are
// cut off by the target and snapshot caps; the snapshot then reads nothing more.
TEST(ClipboardX11Test, HostileOwnersAreCutOffAtTheCaps) {
  using std::chrono::seconds;
  xtest::XServer server;
  ASSERT_TRUE(server.ok());
  scratch::ScratchFolder folder;
  const std::string piece = AwkwardBytes(4 << 20);
  const struct {
    const char* name;
    std::vector<std::string> flags;
    milliseconds at_least, at_most;
  } rows[] = {
      // Pieces without end, as fast as the server carries them: stopped at the target limit.
      {"endless", {"--chunk", "1048576", "--incr-forever"}, milliseconds(0), seconds(20)},
      {"announces 1 GiB", {"--announce", "1073741824"}, milliseconds(0), seconds(2)},
      // A piece every second, each inside the wait limit: stopped at the snapshot's time limit.
      {"drips", {"--chunk", "4096", "--incr-forever", "--piece-delay", "1000"},
       kClipboardSnapshotTimeLimit - seconds(2), kClipboardSnapshotTimeLimit + seconds(3)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto owner = xtest::OfferOnClipboard(folder.path(), {{"image/png", piece}}, row.flags);
    ASSERT_TRUE(owner->ok());
    const auto start = std::chrono::steady_clock::now();
    auto snapshot = TakeClipboardSnapshot();
    std::string data;
    EXPECT_FALSE(snapshot->Read("image/png", &data));
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_GE(spent, row.at_least);
    EXPECT_LE(spent, row.at_most);
    EXPECT_EQ(data.capacity() < 1024, true) << data.capacity();
    EXPECT_FALSE(snapshot->Read("image/png", &data));
  }
}

TEST(ClipboardX11Test, NoDisplayIsAnEmptyClipboard) {
  xtest::XServer server;
  ASSERT_TRUE(server.ok());
  scratch::ScratchFolder folder;
  scratch::WriteFile(folder / "t", "text");
  xtest::ClipboardOwner owner({"UTF8_STRING", folder / "t"});
  ASSERT_TRUE(owner.ok());
  auto before_exit = TakeClipboardSnapshot();
  ASSERT_TRUE(before_exit->Offers("UTF8_STRING"));

  server.Stop();  // the server goes away under a live snapshot
  ExpectNoData(*before_exit, "UTF8_STRING");
  setenv("DISPLAY", server.display().c_str(), 1);
  EXPECT_TRUE(TakeClipboardSnapshot()->Targets().empty());
  unsetenv("DISPLAY");
  EXPECT_TRUE(TakeClipboardSnapshot()->Targets().empty());
}

// Something that takes the connection and never sends the setup reply costs the wait limit,
// not the request: the clipboard reads as empty and the screen as the 96 dpi default.
TEST(ClipboardX11Test, AServerThatNeverAnswersTheHandshakeIsAnEmptyClipboard) {
  using Transport = xtest::SilentXServer::Transport;
  for (const Transport transport : {Transport::kUnix, Transport::kTcp}) {
    xtest::SilentXServer server(transport);
    ASSERT_TRUE(server.ok());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(TakeClipboardSnapshot()->Targets().empty()) << server.display();
    const auto spent = std::chrono::steady_clock::now() - start;
    // Reaching the limit shows the connection got as far as the handshake.
    EXPECT_GE(spent, milliseconds(1900)) << server.display();
    EXPECT_LT(spent, milliseconds(3000)) << server.display();
    EXPECT_EQ(GetScreenMetrics().width_millimeters, 508) << server.display();
  }
}

// Writes an X authority file with one MIT-MAGIC-COOKIE-1 entry.
void WriteCookie(const std::string& path, uint16_t family, const std::string& address,
                 const std::string& number, std::string cookie) {
  std::string name = "MIT-MAGIC-COOKIE-1";
  Xauth entry{};
  entry.family = family;
  entry.address_length = static_cast<uint16_t>(address.size());
  entry.address = const_cast<char*>(address.data());
  entry.number_length = static_cast<uint16_t>(number.size());
  entry.number = const_cast<char*>(number.data());
  entry.name_length = static_cast<uint16_t>(name.size());
  entry.name = name.data();
  entry.data_length = static_cast<uint16_t>(cookie.size());
  entry.data = cookie.data();
  FILE* file = fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(XauWriteAuth(file, &entry), 1);
  fclose(file);
}

// A server that demands a cookie gets the one the user's authority file holds for this host
// and display, as every X client finds it; a wrong cookie is refused.
TEST(ClipboardX11Test, ACookieFromTheAuthorityFileOpensAServerWithAccessControl) {
  scratch::ScratchFolder folder;
  const std::string cookie(16, '\x5a');
  WriteCookie(folder / "server", FamilyWild, "", "", cookie);
  xtest::XServer server({"-auth", folder / "server"});
  ASSERT_TRUE(server.ok());
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  const std::string number = server.display().substr(1);
  WriteCookie(folder / "right", FamilyLocal, host, number, cookie);
  WriteCookie(folder / "wrong", FamilyLocal, host, number, std::string(16, '\x01'));
  setenv("XAUTHORITY", (folder / "right").c_str(), 1);
  scratch::WriteFile(folder / "t", "text");
  xtest::ClipboardOwner owner({"UTF8_STRING", folder / "t"});
  ASSERT_TRUE(owner.ok());
  const struct {
    const char* file;
    bool offered;
  } rows[] = {{"right", true}, {"wrong", false}};
  for (const auto& row : rows) {
    setenv("XAUTHORITY", (folder / row.file).c_str(), 1);
    EXPECT_EQ(TakeClipboardSnapshot()->Offers("UTF8_STRING"), row.offered) << row.file;
  }
  unsetenv("XAUTHORITY");
}

}  // namespace
