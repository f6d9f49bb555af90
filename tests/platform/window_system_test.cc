// The window interface's contract, on a private X server with and without a window manager.

#include "platform/window_system.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "support/desktop.h"
#include "support/scratch_folder.h"
#include "support/x_display.h"

namespace {

// A top-level window of this test, with a title and a made-up process id.
class TestWindow {
 public:
  TestWindow(const std::string& title, uint32_t pid) {
    connection_ = xcb_connect(nullptr, nullptr);
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    window_ = xcb_generate_id(connection_);
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen_->root, 5, 5, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual, 0, nullptr);
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, Atom("_NET_WM_NAME"),
                        Atom("UTF8_STRING"), 8, title.size(), title.data());
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, Atom("_NET_WM_PID"),
                        XCB_ATOM_CARDINAL, 32, 1, &pid);
    xcb_flush(connection_);
  }
  ~TestWindow() { xcb_disconnect(connection_); }

  void Map() {
    xcb_map_window(connection_, window_);
    xcb_flush(connection_);
  }
  WindowId id() const { return window_; }

 private:
  xcb_atom_t Atom(const char* name) {
    auto* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, std::strlen(name), name), nullptr);
    xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
  }

  xcb_connection_t* connection_;
  xcb_screen_t* screen_;
  xcb_window_t window_;
};

// Polls until found() holds, at most 10 s (a window manager starting on a loaded machine is slow).
template <typename F>
bool Eventually(F found) {
  for (int i = 0; i < 200; ++i) {
    if (found()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TEST(WindowSystem, NoDisplayMeansNoWindowWork) {
  {
    scratch::EnvOverride display("DISPLAY", "");
    EXPECT_EQ(WindowSystem::Connect(), nullptr);
  }
  {
    scratch::EnvOverride display("DISPLAY", ":65000");  // nothing listens there
    EXPECT_EQ(WindowSystem::Connect(), nullptr);
  }
  // A server that takes the connection and never answers is given up within the time limit.
  xtest::SilentXServer silent(xtest::SilentXServer::Transport::kUnix);
  ASSERT_TRUE(silent.ok());
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WindowSystem::Connect(), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

class WindowSystemContract : public ::testing::TestWithParam<desktop::WindowManager> {};

TEST_P(WindowSystemContract, FindsRaisesAndMeasuresWindows) {
  if (GetParam() == desktop::WindowManager::kOpenbox && !desktop::HasProgram("openbox")) {
    GTEST_SKIP() << "openbox is not installed";
  }
  desktop::Desktop screen(GetParam());
  ASSERT_TRUE(screen.ok());
  std::unique_ptr<WindowSystem> windows = WindowSystem::Connect();
  ASSERT_TRUE(windows);
  EXPECT_EQ(windows->WorkArea().width, 1920);
  EXPECT_EQ(windows->WorkArea().height, 1080);

  TestWindow other("Other \xED\x95\x9C", 5151);
  TestWindow mine("Mine \xED\x95\x9C", 4242);
  // Not on the screen yet: not found.
  EXPECT_EQ(windows->FindWindowByTitle("Mine \xED\x95\x9C"), 0u);
  other.Map();
  mine.Map();
  ASSERT_TRUE(Eventually([&] { return windows->FindWindowByTitle("Mine \xED\x95\x9C") != 0; }));
  EXPECT_EQ(windows->FindWindowByTitle("Mine \xED\x95\x9C"), mine.id());
  EXPECT_EQ(windows->FindWindowByTitle("Mine"), 0u);  // whole titles only
  EXPECT_EQ(windows->FindWindowOfProcesses({1, 4242}), mine.id());
  EXPECT_EQ(windows->FindWindowOfProcesses({1, 2}), 0u);

  windows->Activate(other.id());
  EXPECT_TRUE(Eventually([&] { return windows->ForegroundWindow() == other.id(); }));
  windows->Activate(mine.id());
  EXPECT_TRUE(Eventually([&] { return windows->ForegroundWindow() == mine.id(); }));
}

INSTANTIATE_TEST_SUITE_P(Desktops, WindowSystemContract,
                         ::testing::Values(desktop::WindowManager::kNone,
                                           desktop::WindowManager::kOpenbox));

TEST(ScreenMetricsTest, ScreenMetricsComeFromTheServerElse96Dpi) {
  unsetenv("DISPLAY");
  const ScreenMetrics fallback = GetScreenMetrics();
  EXPECT_EQ(fallback.width_pixels, 1920);
  EXPECT_EQ(fallback.width_millimeters, 508);
  // Not the fallback's size, so that only the server's answer can pass.
  xtest::XServer server({}, "1280x800x24", "120");
  ASSERT_TRUE(server.ok());
  const ScreenMetrics metrics = GetScreenMetrics();
  EXPECT_EQ(metrics.width_pixels, 1280);
  EXPECT_EQ(metrics.height_pixels, 800);
  EXPECT_EQ(metrics.width_millimeters, 271);
  EXPECT_EQ(metrics.height_millimeters, 169);
}

}  // namespace
