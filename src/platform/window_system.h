#ifndef ORVO_PLATFORM_WINDOW_SYSTEM_H_
#define ORVO_PLATFORM_WINDOW_SYSTEM_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The desktop's top-level windows, as far as bringing a started program forward needs them.
//
// On X11 the windows are the window manager's client list (_NET_CLIENT_LIST), without a window
// manager the children of the root window; of either, only those on the screen (mapped). Titles are _NET_WM_NAME
// (UTF-8), else WM_NAME. A window's process is its _NET_WM_PID.
//
// Every request is answered or given up within a time limit, so a hung display never holds a
// request for ever. Failures of window calls are ignored: the caller only loses the focus help.
// Not thread-safe: one connection per thread.

// A top-level window; 0 is "no window".
using WindowId = uint32_t;

struct ScreenArea {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

class WindowSystem {
 public:
  // Connects to the display named by $DISPLAY. Null when there is none or it cannot be reached:
  // then there is no window work to do.
  static std::unique_ptr<WindowSystem> Connect();

  virtual ~WindowSystem() = default;

  // The first top-level window whose title is exactly title; 0 when none.
  virtual WindowId FindWindowByTitle(const std::string& title) = 0;

  // The first top-level window whose process id is one of pids; 0 when none.
  virtual WindowId FindWindowOfProcesses(const std::vector<int>& pids) = 0;

  // The window that has the user's attention: the active window under a window manager, else
  // the window holding the input focus. The root window (the desktop) when no window has it;
  // 0 only when the display does not answer.
  virtual WindowId ForegroundWindow() = 0;

  // Raises window and gives it the input focus: through the window manager
  // (_NET_ACTIVE_WINDOW) when there is one, directly otherwise.
  virtual void Activate(WindowId window) = 0;

  // Shows window and asks for it to be placed at area.
  virtual void Place(WindowId window, const ScreenArea& area) = 0;

  // The part of the screen that windows may cover (without panels): the window manager's work
  // area of the first desktop, else the whole screen.
  virtual ScreenArea WorkArea() = 0;
};

// The size of the screen in pixels and in millimetres.
struct ScreenMetrics {
  int width_pixels = 0;
  int height_pixels = 0;
  int width_millimeters = 0;
  int height_millimeters = 0;
};

// The first screen of the display. Without a display, or when the server reports no physical
// size or does not answer within 2 s, a 1920 x 1080 screen at 96 pixels per inch.
// Thread-safe.
ScreenMetrics GetScreenMetrics();

#endif  // ORVO_PLATFORM_WINDOW_SYSTEM_H_
