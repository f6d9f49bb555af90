// The contract every clipboard back end keeps, run against each one (X11 with a test owner on a
// private Xvfb, Wayland with one on a private headless sway), and each back end's own failure
// cases.

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
#include "support/wayland_compositor.h"
#include "support/x_display.h"

namespace {

using std::chrono::milliseconds;
using xtest::Offers;

// kBreakOff: the owner stops sending midway (X11: it exits during an incremental transfer;
// Wayland: it keeps the pipe open and writes no more).
enum class OwnerMode { kNormal, kHang, kRefuse, kBreakOff };

// Puts content on the X11 clipboard through the test owner.
class X11Backend {
 public:
  static constexpr ClipboardBackend kBackend = ClipboardBackend::kX11;
  // The owner itself lists its targets, so one that hangs lists none.
  static constexpr bool kHungOwnerListsTargets = false;
  // Each piece of an incremental transfer is handed on as it arrives.
  static constexpr bool kHandsOnPieces = true;

  bool ready() const { return server_.ok(); }

  bool Offer(const Offers& offers, OwnerMode mode = OwnerMode::kNormal, size_t chunk = 65536) {
    owner_.reset();
    std::vector<std::string> flags{"--chunk", std::to_string(chunk)};
    if (mode == OwnerMode::kHang) flags.push_back("--hang");
    if (mode == OwnerMode::kRefuse) flags.push_back("--refuse");
    if (mode == OwnerMode::kBreakOff) flags.push_back("--die-mid-incr");
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

// Puts content on a headless compositor's clipboard through the Wayland test owner. Pieces
// are the pipe's business, so the chunk size does not apply.
class WaylandBackend {
 public:
  static constexpr ClipboardBackend kBackend = ClipboardBackend::kWayland;
  // The compositor lists the types, whatever the owner does.
  static constexpr bool kHungOwnerListsTargets = true;
  static constexpr bool kHandsOnPieces = false;

  bool ready() const { return compositor_.ok(); }

  bool Offer(const Offers& offers, OwnerMode mode = OwnerMode::kNormal, size_t = 0) {
    owner_.reset();
    std::vector<std::string> flags;
    if (mode == OwnerMode::kHang) flags.push_back("--hang");
    if (mode == OwnerMode::kRefuse) flags.push_back("--refuse");
    if (mode == OwnerMode::kBreakOff) flags.push_back("--stall");
    owner_ = xtest::OfferOnClipboard(folder_.path(), offers, flags, ORVO_WAYLAND_CLIPBOARD_OWNER);
    return owner_->ok();
  }

  void Clear() { owner_.reset(); }

 private:
  wltest::Compositor compositor_;
  scratch::ScratchFolder folder_;
  std::unique_ptr<xtest::ClipboardOwner> owner_;
};

template <typename Backend>
class ClipboardContractTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(backend_.ready()); }
  std::unique_ptr<ClipboardSnapshot> Take(milliseconds wait_limit = kClipboardWaitLimit) {
    return TakeClipboardSnapshot(Backend::kBackend, wait_limit);
  }
  Backend backend_;
};

using Backends = ::testing::Types<X11Backend, WaylandBackend>;
TYPED_TEST_SUITE(ClipboardContractTest, Backends);

// Bytes that text handling would spoil: a NUL inside, high bytes, CR LF.
std::string AwkwardBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 7) & 0xff);
  return bytes;
}

struct PieceSink : ClipboardSink {
  void Expect(size_t size) override { expected += size; }
  void Append(std::string_view piece) override {
    bytes.append(piece);
    ++pieces;
  }
  std::string bytes;
  size_t expected = 0;
  size_t pieces = 0;
};

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
  auto snapshot = this->Take();
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
    auto snapshot = this->Take();
    std::string data;
    ASSERT_TRUE(snapshot->Read("image/png", &data));
    EXPECT_TRUE(data == bytes) << "arrived as " << data.size();
    EXPECT_EQ(data.c_str()[data.size()], '\0');
    // Handed on as it comes: the same bytes, in the owner's pieces where the back end sees them.
    PieceSink sink;
    ASSERT_TRUE(snapshot->ReadInto("image/png", &sink));
    EXPECT_TRUE(sink.bytes == bytes);
    EXPECT_GE(sink.expected, bytes.size());
    EXPECT_EQ(sink.pieces, TypeParam::kHandsOnPieces ? (row.size + row.chunk - 1) / row.chunk : 1);
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
      auto snapshot = this->Take();
      std::string data;
      good[t] = snapshot->Read("image/png", &data) && data == bytes;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(good, std::vector<int>(8, 1));
}

TYPED_TEST(ClipboardContractTest, ASnapshotNeverMixesTwoCopiesAndAnEmptyClipboardOffersNothing) {
  ASSERT_TRUE(this->backend_.Offer({{"text/html", "<i>first</i>"}, {"UTF8_STRING", "first"}}));
  auto snapshot = this->Take();
  EXPECT_EQ(ReadTarget(*snapshot, "text/html"), "<i>first</i>");
  ASSERT_TRUE(this->backend_.Offer({{"text/html", "<i>second</i>"}, {"UTF8_STRING", "second"}}));
  ExpectNoData(*snapshot, "UTF8_STRING");
  EXPECT_EQ(ReadTarget(*this->Take(), "UTF8_STRING"), "second");

  this->backend_.Clear();  // an empty clipboard offers nothing
  snapshot = this->Take();
  EXPECT_TRUE(snapshot->Targets().empty());
  ExpectNoData(*snapshot, "UTF8_STRING");
}

// Owners that misbehave cost at most the wait limit and read as "no data".
TYPED_TEST(ClipboardContractTest, MisbehavingOwnersGiveNoDataWithinTheLimit) {
  struct Row {
    OwnerMode mode;
    bool targets_listed;
  };
  const Row rows[] = {{OwnerMode::kHang, TypeParam::kHungOwnerListsTargets},
                      {OwnerMode::kRefuse, true},
                      {OwnerMode::kBreakOff, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.mode));
    ASSERT_TRUE(this->backend_.Offer({{"image/png", AwkwardBytes(300000)}}, row.mode, 1000));
    const auto start = std::chrono::steady_clock::now();
    auto snapshot = this->Take(milliseconds(700));
    std::string data = "stale";
    EXPECT_FALSE(snapshot->Read("image/png", &data));
    EXPECT_FALSE(snapshot->Read("image/png", &data));
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(data, "");
    EXPECT_EQ(snapshot->Offers("image/png"), row.targets_listed);
    EXPECT_LT(spent, milliseconds(1350));  // one limit, not one per read
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
      {"drips",
       {"--chunk", "4096", "--incr-forever", "--piece-delay", "1000"},
       kClipboardSnapshotTimeLimit - seconds(2),
       kClipboardSnapshotTimeLimit + seconds(3)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto owner = xtest::OfferOnClipboard(folder.path(), {{"image/png", piece}}, row.flags);
    ASSERT_TRUE(owner->ok());
    const auto start = std::chrono::steady_clock::now();
    auto snapshot = TakeClipboardSnapshot(ClipboardBackend::kX11);
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
  auto before_exit = TakeClipboardSnapshot(ClipboardBackend::kX11);
  ASSERT_TRUE(before_exit->Offers("UTF8_STRING"));

  server.Stop();  // the server goes away under a live snapshot
  ExpectNoData(*before_exit, "UTF8_STRING");
  setenv("DISPLAY", server.display().c_str(), 1);
  EXPECT_TRUE(TakeClipboardSnapshot(ClipboardBackend::kX11)->Targets().empty());
  unsetenv("DISPLAY");
  EXPECT_TRUE(TakeClipboardSnapshot(ClipboardBackend::kX11)->Targets().empty());
}

// Something that takes the connection and never sends the setup reply costs the wait limit,
// not the request: the clipboard reads as empty and the screen as the 96 dpi default.
TEST(ClipboardX11Test, AServerThatNeverAnswersTheHandshakeIsAnEmptyClipboard) {
  using Transport = xtest::SilentXServer::Transport;
  for (const Transport transport : {Transport::kUnix, Transport::kTcp}) {
    xtest::SilentXServer server(transport);
    ASSERT_TRUE(server.ok());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(TakeClipboardSnapshot(ClipboardBackend::kX11)->Targets().empty())
        << server.display();
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
    EXPECT_EQ(TakeClipboardSnapshot(ClipboardBackend::kX11)->Offers("UTF8_STRING"), row.offered)
        << row.file;
  }
  unsetenv("XAUTHORITY");
}

// wl-copy, the usual command-line owner, offering one type (text with Korean and an emoji,
// or a picture). wl-copy adds its own names for text.
TEST(ClipboardWaylandTest, WlCopyContentArrivesByteForByte) {
  wltest::Compositor compositor;
  ASSERT_TRUE(compositor.ok());
  scratch::ScratchFolder folder;
  const struct {
    const char* type;
    std::string bytes;
  } rows[] = {
      {"text/plain;charset=utf-8", "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 text \xF0\x9F\x98\x80\n"},
      {"image/png", scratch::TinyPng()}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.type);
    scratch::WriteFile(folder / "content", row.bytes);
    int out = -1;
    pid_t copier =
        xtest::SpawnWithPipe({"sh", "-c", "exec wl-copy --foreground --type \"$0\" < \"$1\"",
                              row.type, folder / "content"},
                             &out);
    std::unique_ptr<ClipboardSnapshot> snapshot;
    for (int tries = 0; tries < 100; ++tries) {  // wl-copy says nothing once it owns the clipboard
      snapshot = TakeClipboardSnapshot(ClipboardBackend::kWayland);
      if (snapshot->Offers(row.type)) break;
      std::this_thread::sleep_for(milliseconds(50));
    }
    EXPECT_EQ(ReadTarget(*snapshot, row.type), row.bytes);
    xtest::StopProcess(&copier);
    close(out);
  }
}

// A compositor that stops answering costs one wait limit per snapshot, however many reads
// follow; one that is gone, or none named, costs nothing.
TEST(ClipboardWaylandTest, AStoppedOrMissingCompositorIsAnEmptyClipboardWithinTheLimit) {
  enum class Fault { kStopped, kGone, kNoneNamed };
  const struct {
    Fault fault;
    bool live_snapshot_fails;
    milliseconds at_least;
  } rows[] = {{Fault::kStopped, true, milliseconds(900)},
              {Fault::kGone, true, milliseconds(0)},
              {Fault::kNoneNamed, false, milliseconds(0)}};
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.fault));
    wltest::Compositor compositor;
    ASSERT_TRUE(compositor.ok());
    scratch::ScratchFolder folder;
    auto owner = xtest::OfferOnClipboard(folder.path(), {{"UTF8_STRING", "text"}}, {},
                                         ORVO_WAYLAND_CLIPBOARD_OWNER);
    ASSERT_TRUE(owner->ok());
    auto live = TakeClipboardSnapshot(ClipboardBackend::kWayland, milliseconds(500));
    ASSERT_TRUE(live->Offers("UTF8_STRING"));
    if (row.fault == Fault::kStopped) compositor.Pause();
    if (row.fault == Fault::kGone) compositor.Stop();
    if (row.fault == Fault::kNoneNamed) unsetenv("WAYLAND_DISPLAY");
    const auto start = std::chrono::steady_clock::now();
    if (row.live_snapshot_fails) {
      ExpectNoData(*live, "UTF8_STRING");
      ExpectNoData(*live, "UTF8_STRING");
    }
    EXPECT_TRUE(
        TakeClipboardSnapshot(ClipboardBackend::kWayland, milliseconds(500))->Targets().empty());
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_GE(spent, row.at_least);
    EXPECT_LT(spent, row.at_least + milliseconds(2000));  // a hang, not a busy machine
  }
}

}  // namespace
