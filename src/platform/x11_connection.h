#ifndef ORVO_PLATFORM_X11_CONNECTION_H_
#define ORVO_PLATFORM_X11_CONNECTION_H_

#include <chrono>
#include <cstdlib>
#include <functional>
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
// An event (xcb_generic_event_t, whose type xcb declares without a name to forward).
using XEvent = XReply<void>;
using XDeadline = std::chrono::steady_clock::time_point;

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

  // Every wait for the server goes through these two, so none outlasts its deadline.
  //
  // The reply to the request numbered sequence (a cookie's sequence), flushed first; null for
  // an error reply, at the deadline, or when the connection broke. A reply that comes after
  // the deadline is dropped by xcb. Events that arrive meanwhile stay queued for WaitForEvent.
  template <typename Reply, typename Cookie>
  XReply<Reply> Await(Cookie cookie, XDeadline deadline) {
    return XReply<Reply>(static_cast<Reply*>(WaitForReply(cookie.sequence, deadline)));
  }
  // The first event accept takes; null at the deadline or when the connection broke. Events
  // it refuses are dropped.
  XEvent WaitForEvent(XDeadline deadline, const std::function<bool(const void* event)>& accept);

 private:
  void* WaitForReply(unsigned int sequence, XDeadline deadline);
  // Calls ready until it is true, sleeping on the socket in between; false at the deadline or
  // when the connection broke.
  bool WaitUntil(XDeadline deadline, const std::function<bool()>& ready);

  xcb_connection_t* connection_ = nullptr;
  xcb_screen_t* screen_ = nullptr;
};

#endif  // ORVO_PLATFORM_X11_CONNECTION_H_
