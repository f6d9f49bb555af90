// The clipboard on X11: the CLIPBOARD selection read through libxcb.
//
// Each snapshot opens a connection of its own and creates an unmapped requestor window on it.
// A server timestamp taken from a property change on that window stamps every conversion, so
// an owner that follows the ICCCM refuses conversions once it lost the selection; the owner
// window is also checked before each conversion. Every wait, for an event or a reply, has a
// deadline (platform/x11_connection.h): the wait limit, and never past the snapshot's own
// time limit. Connecting has the wait limit too.

#include <xcb/xcb.h>

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <functional>

#include "platform/clipboard.h"
#include "platform/clipboard_backends.h"
#include "platform/x11_connection.h"

namespace {

using Clock = std::chrono::steady_clock;

// The property every conversion of a snapshot is delivered into (on the snapshot's own window).
constexpr char kTransferProperty[] = "ORVO_CLIPBOARD";
// Get-property requests read at most this many 32-bit units at a time.
constexpr uint32_t kReadChunkUnits = 1u << 20;  // 4 MiB

// Targets of the selection protocol itself, never content.
bool IsProtocolTarget(std::string_view name) {
  static constexpr std::string_view kProtocol[] = {
      "TARGETS", "TIMESTAMP",        "MULTIPLE",       "SAVE_TARGETS",
      "DELETE",  "INSERT_SELECTION", "INSERT_PROPERTY"};
  return std::find(std::begin(kProtocol), std::end(kProtocol), name) != std::end(kProtocol);
}

// What one owner may cost a snapshot.
struct SnapshotLimits {
  std::chrono::milliseconds wait;  // for one answer
  size_t target_bytes;             // of one target
  std::chrono::milliseconds time;  // for the whole snapshot, from its taking
};

// Collects a target's bytes in a string.
class StringSink : public ClipboardSink {
 public:
  explicit StringSink(std::string* data) : data_(data) {}
  // Room for the announced bytes at once: a 25 MB bitmap grown piece by piece would be copied
  // over and over.
  void Expect(size_t bytes) override { data_->reserve(data_->size() + bytes); }
  void Append(std::string_view piece) override { data_->append(piece); }

 private:
  std::string* data_;
};

class X11Snapshot : public ClipboardSnapshot {
 public:
  explicit X11Snapshot(const SnapshotLimits& limits)
      : limits_(limits), end_(Clock::now() + limits.time), x_(limits.wait) {}

  // Connects, makes the requestor window and reads the offered targets. False when there is
  // nothing to read (no display, no owner, no answer): the snapshot is then empty.
  bool Take();

  const std::vector<std::string>& Targets() const override { return targets_; }
  bool Read(std::string_view target, std::string* data) override;
  bool ReadInto(std::string_view target, ClipboardSink* sink) override;

 private:
  xcb_atom_t Intern(std::string_view name);
  bool MakeWindow();
  bool TakeTimestamp();
  bool ReadTargets();
  bool OwnerUnchanged();
  // The deadline of the next wait: the wait limit from now, but never past the snapshot's end.
  XDeadline NextDeadline() const { return std::min(Clock::now() + limits_.wait, end_); }
  template <typename Reply, typename Cookie>
  XReply<Reply> Await(Cookie cookie) {
    return x_.Await<Reply>(cookie, NextDeadline());
  }
  // Waits until an event satisfies accept; null at the deadline or on a broken connection.
  // Other events are dropped: only this snapshot's window reports to this connection.
  XEvent WaitFor(const std::function<bool(const xcb_generic_event_t&)>& accept) {
    return x_.WaitForEvent(NextDeadline(), [&accept](const void* event) {
      return accept(*static_cast<const xcb_generic_event_t*>(event));
    });
  }
  bool Convert(xcb_atom_t target, ClipboardSink* sink);
  // received: the target's bytes handed on so far, counted against the target limit.
  bool ReadProperty(bool* incremental, ClipboardSink* sink, size_t* received);
  bool ReadIncrementally(ClipboardSink* sink, size_t* received);

  SnapshotLimits limits_;
  XDeadline end_;
  XConnection x_;
  xcb_window_t window_ = XCB_NONE;
  xcb_window_t owner_ = XCB_NONE;
  xcb_timestamp_t time_ = XCB_CURRENT_TIME;
  xcb_atom_t clipboard_ = XCB_NONE;
  xcb_atom_t property_ = XCB_NONE;
  xcb_atom_t incr_ = XCB_NONE;
  // An owner that failed to answer in time or sent too much is not asked again: a transfer it
  // may still be making would land in the property of the next conversion.
  bool broken_ = false;
  std::vector<std::string> targets_;
};

xcb_atom_t X11Snapshot::Intern(std::string_view name) {
  xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(x_.get(), 0, static_cast<uint16_t>(name.size()), name.data());
  auto reply = Await<xcb_intern_atom_reply_t>(cookie);
  return reply ? reply->atom : XCB_NONE;
}

bool X11Snapshot::MakeWindow() {
  window_ = xcb_generate_id(x_.get());
  const uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
  xcb_void_cookie_t made =
      xcb_create_window_checked(x_.get(), XCB_COPY_FROM_PARENT, window_, x_.screen()->root, 0, 0, 1,
                                1, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, x_.screen()->root_visual,
                                XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
  // A reply to a request made after the window's proves the window was made: the server
  // answers in order, and an error of the checked request would have come first.
  auto focus = Await<xcb_get_input_focus_reply_t>(xcb_get_input_focus(x_.get()));
  XReply<xcb_generic_error_t> error(focus ? xcb_request_check(x_.get(), made) : nullptr);
  return focus != nullptr && error == nullptr;
}

bool X11Snapshot::TakeTimestamp() {
  // Appending nothing to a property still makes the server report the change, with its time.
  xcb_change_property(x_.get(), XCB_PROP_MODE_APPEND, window_, property_, XCB_ATOM_STRING, 8, 0,
                      nullptr);
  xcb_flush(x_.get());
  XEvent event = WaitFor([this](const xcb_generic_event_t& e) {
    if ((e.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
    const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(e);
    return notify.window == window_ && notify.atom == property_;
  });
  if (!event) return false;
  time_ = static_cast<xcb_property_notify_event_t*>(event.get())->time;
  xcb_delete_property(x_.get(), window_, property_);
  return true;
}

bool X11Snapshot::OwnerUnchanged() {
  auto reply =
      Await<xcb_get_selection_owner_reply_t>(xcb_get_selection_owner(x_.get(), clipboard_));
  return reply != nullptr && reply->owner == owner_ && owner_ != XCB_NONE;
}

bool X11Snapshot::Take() {
  if (!x_.ok() || !MakeWindow()) return false;
  clipboard_ = Intern("CLIPBOARD");
  property_ = Intern(kTransferProperty);
  incr_ = Intern("INCR");
  if (clipboard_ == XCB_NONE || property_ == XCB_NONE || incr_ == XCB_NONE) return false;
  auto owner =
      Await<xcb_get_selection_owner_reply_t>(xcb_get_selection_owner(x_.get(), clipboard_));
  if (owner == nullptr || owner->owner == XCB_NONE) return false;
  owner_ = owner->owner;
  return TakeTimestamp() && ReadTargets();
}

bool X11Snapshot::ReadTargets() {
  std::string atoms;
  StringSink sink(&atoms);
  if (!Convert(Intern("TARGETS"), &sink)) return false;
  const size_t count = atoms.size() / sizeof(xcb_atom_t);
  std::vector<xcb_get_atom_name_cookie_t> cookies(count);
  for (size_t i = 0; i < count; ++i) {
    xcb_atom_t atom;
    memcpy(&atom, atoms.data() + i * sizeof atom, sizeof atom);
    cookies[i] = xcb_get_atom_name(x_.get(), atom);
  }
  for (xcb_get_atom_name_cookie_t cookie : cookies) {
    auto reply = Await<xcb_get_atom_name_reply_t>(cookie);
    if (reply == nullptr) continue;
    std::string name(xcb_get_atom_name_name(reply.get()),
                     xcb_get_atom_name_name_length(reply.get()));
    if (!IsProtocolTarget(name) &&
        std::find(targets_.begin(), targets_.end(), name) == targets_.end()) {
      targets_.push_back(std::move(name));
    }
  }
  return true;
}

bool X11Snapshot::Read(std::string_view target, std::string* data) {
  data->clear();
  StringSink sink(data);
  if (ReadInto(target, &sink)) return true;
  data->clear();
  data->shrink_to_fit();  // up to the target limit, held for nothing
  return false;
}

bool X11Snapshot::ReadInto(std::string_view target, ClipboardSink* sink) {
  if (Clock::now() >= end_) broken_ = true;
  if (broken_ || !Offers(target) || !OwnerUnchanged()) return false;
  return Convert(Intern(target), sink);
}

bool X11Snapshot::Convert(xcb_atom_t target, ClipboardSink* sink) {
  if (broken_ || target == XCB_NONE) return false;
  xcb_delete_property(x_.get(), window_, property_);
  xcb_convert_selection(x_.get(), window_, clipboard_, target, property_, time_);
  xcb_flush(x_.get());
  XEvent event = WaitFor([this, target](const xcb_generic_event_t& e) {
    if ((e.response_type & 0x7f) != XCB_SELECTION_NOTIFY) return false;
    const auto& notify = reinterpret_cast<const xcb_selection_notify_event_t&>(e);
    return notify.requestor == window_ && notify.selection == clipboard_ && notify.target == target;
  });
  if (!event) {
    broken_ = true;
    return false;
  }
  if (static_cast<xcb_selection_notify_event_t*>(event.get())->property == XCB_NONE) {
    return false;  // refused
  }
  bool incremental = false;
  size_t received = 0;
  const bool read = ReadProperty(&incremental, sink, &received) &&
                    (!incremental || ReadIncrementally(sink, &received));
  if (!read) broken_ = true;
  return read;
}

// Reads the transfer property whole, handing it to *sink, and deletes it (which, during an
// incremental transfer, asks the owner for the next piece). *incremental tells that the owner
// announced one (its announcement is not data). False when the property cannot be read or the
// bytes received would pass the target limit.
bool X11Snapshot::ReadProperty(bool* incremental, ClipboardSink* sink, size_t* received) {
  *incremental = false;
  uint32_t offset = 0;
  for (;;) {
    auto reply = Await<xcb_get_property_reply_t>(xcb_get_property(
        x_.get(), 0, window_, property_, XCB_GET_PROPERTY_TYPE_ANY, offset, kReadChunkUnits));
    if (reply == nullptr) return false;
    const int length = xcb_get_property_value_length(reply.get());
    const bool last = reply->bytes_after == 0 || length <= 0;
    if (last) {
      // Deleting is what tells an incremental owner to go on, so it must follow the whole
      // read; sent before the copy below, the owner makes its next piece meanwhile.
      xcb_delete_property(x_.get(), window_, property_);
      xcb_flush(x_.get());
    }
    if (reply->type == incr_) {
      *incremental = true;
      // The announcement is a lower bound of the size: one past the limit fails at once.
      uint32_t announced = 0;
      if (length >= 4) memcpy(&announced, xcb_get_property_value(reply.get()), sizeof announced);
      if (announced > limits_.target_bytes) return false;
      sink->Expect(announced);
    } else if (length > 0) {
      if (size_t{reply->bytes_after} + length > limits_.target_bytes - *received) return false;
      if (offset == 0) sink->Expect(reply->bytes_after + length);
      sink->Append(std::string_view(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                    static_cast<size_t>(length)));
      *received += static_cast<size_t>(length);
      assert(*received <= limits_.target_bytes);
    }
    if (last) return true;
    offset += static_cast<uint32_t>(length) / 4;
  }
}

bool X11Snapshot::ReadIncrementally(ClipboardSink* sink, size_t* received) {
  for (;;) {
    // An owner whose pieces are always waiting would otherwise never meet a deadline.
    if (Clock::now() >= end_) return false;
    XEvent event = WaitFor([this](const xcb_generic_event_t& e) {
      if ((e.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
      const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(e);
      return notify.window == window_ && notify.atom == property_ &&
             notify.state == XCB_PROPERTY_NEW_VALUE;
    });
    if (!event) return false;
    const size_t before = *received;
    bool incremental = false;
    if (!ReadProperty(&incremental, sink, received) || incremental) return false;
    if (*received == before) return true;  // the empty piece ends the transfer
  }
}

}  // namespace

std::unique_ptr<ClipboardSnapshot> TakeX11ClipboardSnapshot(std::chrono::milliseconds wait_limit) {
  auto snapshot = std::make_unique<X11Snapshot>(
      SnapshotLimits{wait_limit, kClipboardTargetLimit, kClipboardSnapshotTimeLimit});
  if (snapshot->Take()) return snapshot;
  return MakeEmptyClipboardSnapshot();
}
