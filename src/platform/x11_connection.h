#ifndef ORVO_PLATFORM_X11_CONNECTION_H_
#define ORVO_PLATFORM_X11_CONNECTION_H_

#include <chrono>
#include <cstdlib>
#include <memory>

// For the X11 implementations in this folder only (the clipboard, the window system).

struct xcb_connection_t;
struct xcb_screen_t;

// A reply, event or error of xcb, which the caller frees with free().
template <typename T>
struct FreeDeleter {
  void operator()(T* p) const { std::free(p); }
};
template <typename T>
using XReply = std::unique_ptr<T, FreeDeleter<T>>;

// One connection to the display named by $DISPLAY, made within wait_limit (a server that takes
// the connection but never answers is given up), closed with the object. Not thread-safe: one
// thread uses one connection.
class XConnection {
 public:
  explicit XConnection(std::chrono::milliseconds wait_limit);
  ~XConnection();
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  // Whether the connection stands and has a screen. False without $DISPLAY, when the server
  // cannot be reached or does not answer in time.
  bool ok() const;
  xcb_connection_t* get() const { return connection_; }
  xcb_screen_t* screen() const { return screen_; }

 private:
  xcb_connection_t* connection_ = nullptr;
  xcb_screen_t* screen_ = nullptr;
};

#endif  // ORVO_PLATFORM_X11_CONNECTION_H_
