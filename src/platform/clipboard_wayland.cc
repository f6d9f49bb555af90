// The clipboard on Wayland: the first seat's selection, read through a data-control protocol
// (ext_data_control_v1 where the compositor offers it, else zwlr_data_control_v1), which lets
// a client without a window read the clipboard.
//
// Each snapshot opens a connection of its own and makes a data device on it; the compositor
// then announces the current selection as an offer with its MIME types, which are the
// snapshot's targets. Every read asks that same offer for one type through a pipe. When
// another program sets the selection, the compositor announces a new offer on our device, and
// the snapshot refuses later reads (and a read whose transfer overlapped the change) instead of
// mixing two copies. Every wait polls the connection's or the pipe's descriptor with our own
// deadline: a compositor that accepts the connection but never answers (a stopped one) would
// hold libwayland's own round trip forever.

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "ext-data-control-v1-client-protocol.h"
#include "platform/clipboard.h"
#include "platform/clipboard_backends.h"
#include "platform/environment.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  // Rounded up: a wait that ends early would wake only to wait again.
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::max<decltype(left)>(left, 0));
}

// The compositor's socket: $WAYLAND_DISPLAY itself when it is a path, else that name in
// $XDG_RUNTIME_DIR, as libwayland finds it. Connected without blocking: a compositor whose
// backlog is full fails at once instead of holding the caller.
int ConnectToCompositor() {
  std::string path = EnvironmentVariable("WAYLAND_DISPLAY").value_or("");
  if (path.empty()) return -1;
  if (path[0] != '/') {
    const std::string runtime = EnvironmentVariable("XDG_RUNTIME_DIR").value_or("");
    if (runtime.empty()) return -1;
    path = runtime + "/" + path;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return -1;
  memcpy(address.sun_path, path.data(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// What a snapshot hears from its data device, whichever protocol it came by.
class DataControlEvents {
 public:
  virtual void OnDataOffer(wl_proxy* offer) = 0;
  virtual void OnOfferType(wl_proxy* offer, const char* mime_type) = 0;
  virtual void OnSelection(wl_proxy* offer) = 0;
  virtual void OnPrimarySelection(wl_proxy* offer) = 0;
  virtual void OnFinished() = 0;

 protected:
  ~DataControlEvents() = default;
};

DataControlEvents* Events(void* data) { return static_cast<DataControlEvents*>(data); }
template <typename T>
wl_proxy* Proxy(T* object) {
  return reinterpret_cast<wl_proxy*>(object);
}

// The two protocols have the same requests and events under different names: each is reached
// through one of these, so that one snapshot speaks either.
struct DataControl {
  const wl_interface* manager;
  uint32_t version;  // the highest we use
  // Asks for the seat's data device and sends its events (and its offers' events) to events.
  wl_proxy* (*get_device)(wl_proxy* manager, wl_seat* seat, DataControlEvents* events);
  void (*receive)(wl_proxy* offer, const char* mime_type, int fd);
};

const ext_data_control_offer_v1_listener kExtOfferListener = {
    [](void* data, ext_data_control_offer_v1* offer, const char* type) {
      Events(data)->OnOfferType(Proxy(offer), type);
    }};
const ext_data_control_device_v1_listener kExtDeviceListener = {
    [](void* data, ext_data_control_device_v1*, ext_data_control_offer_v1* offer) {
      ext_data_control_offer_v1_add_listener(offer, &kExtOfferListener, data);
      Events(data)->OnDataOffer(Proxy(offer));
    },
    [](void* data, ext_data_control_device_v1*, ext_data_control_offer_v1* offer) {
      Events(data)->OnSelection(Proxy(offer));
    },
    [](void* data, ext_data_control_device_v1*) { Events(data)->OnFinished(); },
    [](void* data, ext_data_control_device_v1*, ext_data_control_offer_v1* offer) {
      Events(data)->OnPrimarySelection(Proxy(offer));
    }};
const DataControl kExtDataControl = {
    &ext_data_control_manager_v1_interface, 1,
    [](wl_proxy* manager, wl_seat* seat, DataControlEvents* events) {
      auto* device = ext_data_control_manager_v1_get_data_device(
          reinterpret_cast<ext_data_control_manager_v1*>(manager), seat);
      ext_data_control_device_v1_add_listener(device, &kExtDeviceListener, events);
      return Proxy(device);
    },
    [](wl_proxy* offer, const char* type, int fd) {
      ext_data_control_offer_v1_receive(reinterpret_cast<ext_data_control_offer_v1*>(offer), type,
                                        fd);
    }};

const zwlr_data_control_offer_v1_listener kWlrOfferListener = {
    [](void* data, zwlr_data_control_offer_v1* offer, const char* type) {
      Events(data)->OnOfferType(Proxy(offer), type);
    }};
const zwlr_data_control_device_v1_listener kWlrDeviceListener = {
    [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
      zwlr_data_control_offer_v1_add_listener(offer, &kWlrOfferListener, data);
      Events(data)->OnDataOffer(Proxy(offer));
    },
    [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
      Events(data)->OnSelection(Proxy(offer));
    },
    [](void* data, zwlr_data_control_device_v1*) { Events(data)->OnFinished(); },
    [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
      Events(data)->OnPrimarySelection(Proxy(offer));
    }};
const DataControl kWlrDataControl = {
    // Version 2 adds only the primary selection, which is not the clipboard.
    &zwlr_data_control_manager_v1_interface, 1,
    [](wl_proxy* manager, wl_seat* seat, DataControlEvents* events) {
      auto* device = zwlr_data_control_manager_v1_get_data_device(
          reinterpret_cast<zwlr_data_control_manager_v1*>(manager), seat);
      zwlr_data_control_device_v1_add_listener(device, &kWlrDeviceListener, events);
      return Proxy(device);
    },
    [](wl_proxy* offer, const char* type, int fd) {
      zwlr_data_control_offer_v1_receive(reinterpret_cast<zwlr_data_control_offer_v1*>(offer), type,
                                         fd);
    }};

// The newer protocol first: a compositor that offers both means the same by either.
const DataControl* const kDataControls[] = {&kExtDataControl, &kWlrDataControl};

struct Global {
  uint32_t name = 0;
  uint32_t version = 0;
};

// One connection to the compositor and the globals it announced.
class WaylandConnection {
 public:
  WaylandConnection() = default;
  ~WaylandConnection();
  WaylandConnection(const WaylandConnection&) = delete;
  WaylandConnection& operator=(const WaylandConnection&) = delete;

  // Connects and lists the globals before the deadline. False without $WAYLAND_DISPLAY, when
  // the compositor cannot be reached or does not answer in time.
  bool Open(Clock::time_point deadline);
  // The data-control protocol and the seat to use; null when either is missing.
  const DataControl* data_control() const { return data_control_; }
  const Global& seat() const { return seat_; }
  const Global& manager() const { return manager_; }
  wl_display* display() const { return display_; }
  wl_registry* registry() const { return registry_; }

  // Dispatches events until done() holds; false when the deadline passes first or the
  // connection breaks.
  bool DispatchUntil(const std::function<bool()>& done, Clock::time_point deadline);
  // Waits until the compositor has handled every request sent so far and we have its answers.
  bool RoundTrip(Clock::time_point deadline);
  // Dispatches the events that have arrived, without waiting.
  bool DispatchArrived();
  // Sends the requests made so far.
  bool Flush(Clock::time_point deadline);

 private:
  void OnGlobal(uint32_t name, const char* interface, uint32_t version);

  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  const DataControl* data_control_ = nullptr;
  Global manager_;
  Global seat_;
};

WaylandConnection::~WaylandConnection() {
  if (registry_ != nullptr) wl_registry_destroy(registry_);
  if (display_ != nullptr) wl_display_disconnect(display_);
}

bool WaylandConnection::Open(Clock::time_point deadline) {
  const int fd = ConnectToCompositor();
  if (fd < 0) return false;
  display_ = wl_display_connect_to_fd(fd);  // owns fd from here on, failing or not
  if (display_ == nullptr) return false;
  registry_ = wl_display_get_registry(display_);
  static const wl_registry_listener kListener = {
      [](void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version) {
        static_cast<WaylandConnection*>(data)->OnGlobal(name, interface, version);
      },
      [](void*, wl_registry*, uint32_t) {}};
  wl_registry_add_listener(registry_, &kListener, this);
  return RoundTrip(deadline);
}

void WaylandConnection::OnGlobal(uint32_t name, const char* interface, uint32_t version) {
  if (strcmp(interface, wl_seat_interface.name) == 0 && seat_.name == 0) {
    seat_ = {name, version};  // the first seat is the user's ("seat0")
  }
  // The first protocol of kDataControls the compositor offers.
  for (const DataControl* control : kDataControls) {
    if (control == data_control_) break;
    if (strcmp(interface, control->manager->name) == 0) {
      data_control_ = control;
      manager_ = {name, std::min(version, control->version)};
      break;
    }
  }
}

bool WaylandConnection::Flush(Clock::time_point deadline) {
  while (wl_display_flush(display_) < 0) {
    if (errno != EAGAIN) return false;
    pollfd watched{wl_display_get_fd(display_), POLLOUT, 0};
    if (poll(&watched, 1, MillisecondsLeft(deadline)) <= 0) return false;
  }
  return true;
}

bool WaylandConnection::DispatchUntil(const std::function<bool()>& done,
                                      Clock::time_point deadline) {
  for (;;) {
    if (wl_display_dispatch_pending(display_) < 0) return false;
    if (done()) return true;
    if (wl_display_prepare_read(display_) != 0) continue;  // events arrived meanwhile
    if (!Flush(deadline)) {
      wl_display_cancel_read(display_);
      return false;
    }
    pollfd watched{wl_display_get_fd(display_), POLLIN, 0};
    const int left = MillisecondsLeft(deadline);
    if (left <= 0 || poll(&watched, 1, left) <= 0) {
      wl_display_cancel_read(display_);
      if (Clock::now() >= deadline) return false;
      continue;  // interrupted
    }
    if (wl_display_read_events(display_) != 0) return false;
  }
}

bool WaylandConnection::DispatchArrived() {
  while (wl_display_prepare_read(display_) != 0) {
    if (wl_display_dispatch_pending(display_) < 0) return false;
  }
  pollfd watched{wl_display_get_fd(display_), POLLIN, 0};
  if (poll(&watched, 1, 0) == 1) {
    if (wl_display_read_events(display_) != 0) return false;
  } else {
    wl_display_cancel_read(display_);
  }
  return wl_display_dispatch_pending(display_) >= 0;
}

bool WaylandConnection::RoundTrip(Clock::time_point deadline) {
  bool answered = false;
  wl_callback* callback = wl_display_sync(display_);
  static const wl_callback_listener kListener = {
      [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; }};
  wl_callback_add_listener(callback, &kListener, &answered);
  const bool ok = DispatchUntil([&answered] { return answered; }, deadline);
  wl_callback_destroy(callback);  // a late answer then goes nowhere
  return ok;
}

class WaylandSnapshot : public ClipboardSnapshot, private DataControlEvents {
 public:
  explicit WaylandSnapshot(std::chrono::milliseconds wait_limit)
      : wait_limit_(wait_limit), give_up_(Clock::now() + kClipboardSnapshotTimeLimit) {}
  ~WaylandSnapshot();

  // Connects, makes the data device and takes the selection's offer with its types. False
  // when there is nothing to read (no compositor, no data-control, no selection, no answer).
  bool Take();

  const std::vector<std::string>& Targets() const override { return targets_; }
  bool Read(std::string_view target, std::string* data) override;

 private:
  void OnDataOffer(wl_proxy* offer) override;
  void OnOfferType(wl_proxy* offer, const char* mime_type) override;
  void OnSelection(wl_proxy* offer) override;
  void OnPrimarySelection(wl_proxy* offer) override;
  void OnFinished() override { changed_ = true; }

  // The end of the next wait: the wait limit from now, but never past the snapshot's end.
  Clock::time_point NextDeadline() const { return std::min(Clock::now() + wait_limit_, give_up_); }
  // Reads fd to its end; a stalled writer costs one wait limit.
  bool ReadPipe(int fd, std::string* data);

  std::chrono::milliseconds wait_limit_;
  Clock::time_point give_up_;
  WaylandConnection connection_;
  wl_proxy* manager_ = nullptr;
  wl_seat* seat_ = nullptr;
  wl_proxy* device_ = nullptr;
  std::vector<wl_proxy*> offers_;  // every offer announced to us, destroyed with the snapshot
  std::vector<std::string> incoming_types_;  // of the offer announced last
  wl_proxy* selection_ = nullptr;
  bool selection_taken_ = false;  // the first selection event has come
  bool changed_ = false;          // the selection changed, or the device is gone
  bool broken_ = false;  // the owner or the compositor failed to answer in time: not asked again
  std::vector<std::string> targets_;
};

WaylandSnapshot::~WaylandSnapshot() {
  for (wl_proxy* offer : offers_) wl_proxy_destroy(offer);
  if (device_ != nullptr) wl_proxy_destroy(device_);
  if (manager_ != nullptr) wl_proxy_destroy(manager_);
  if (seat_ != nullptr) wl_seat_destroy(seat_);
}

bool WaylandSnapshot::Take() {
  if (!connection_.Open(NextDeadline())) return false;
  const DataControl* control = connection_.data_control();
  if (control == nullptr || connection_.seat().name == 0) return false;
  manager_ =
      static_cast<wl_proxy*>(wl_registry_bind(connection_.registry(), connection_.manager().name,
                                              control->manager, connection_.manager().version));
  seat_ = static_cast<wl_seat*>(
      wl_registry_bind(connection_.registry(), connection_.seat().name, &wl_seat_interface, 1));
  device_ = control->get_device(manager_, seat_, this);
  // The compositor announces the current selection as soon as the device exists.
  if (!connection_.RoundTrip(NextDeadline()) || !selection_taken_ || selection_ == nullptr) {
    return false;
  }
  return !changed_;
}

void WaylandSnapshot::OnDataOffer(wl_proxy* offer) {
  offers_.push_back(offer);
  incoming_types_.clear();
}

void WaylandSnapshot::OnOfferType(wl_proxy* offer, const char* mime_type) {
  if (offers_.empty() || offer != offers_.back()) return;
  if (std::find(incoming_types_.begin(), incoming_types_.end(), mime_type) ==
      incoming_types_.end()) {
    incoming_types_.emplace_back(mime_type);
  }
}

void WaylandSnapshot::OnSelection(wl_proxy* offer) {
  if (selection_taken_) {
    changed_ = true;
    return;
  }
  selection_taken_ = true;
  selection_ = offer;
  if (offer != nullptr && !offers_.empty() && offer == offers_.back()) targets_ = incoming_types_;
}

void WaylandSnapshot::OnPrimarySelection(wl_proxy*) {}  // the other clipboard: not ours

bool WaylandSnapshot::Read(std::string_view target, std::string* data) {
  data->clear();
  if (broken_ || changed_ || !Offers(target) || Clock::now() >= give_up_) return false;
  if (!connection_.DispatchArrived() || changed_) return false;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  // Only our end waits without blocking: the owner gets the plain pipe end it expects.
  fcntl(fds[0], F_SETFL, O_NONBLOCK);
  connection_.data_control()->receive(selection_, std::string(target).c_str(), fds[1]);
  close(fds[1]);  // the request carries its own copy to the owner
  const bool read = ReadPipe(fds[0], data);
  close(fds[0]);
  // The owner may have written its bytes after it lost the selection: only an answer that
  // still comes from the current selection counts.
  if (read && !broken_ && !connection_.RoundTrip(NextDeadline())) broken_ = true;
  // Wayland has no way to refuse a type: an owner that refuses closes the pipe unwritten.
  if (!read || broken_ || changed_ || data->empty()) {
    data->clear();
    return false;
  }
  return true;
}

bool WaylandSnapshot::ReadPipe(int fd, std::string* data) {
  if (!connection_.Flush(NextDeadline())) {
    broken_ = true;
    return false;
  }
  char buffer[65536];
  Clock::time_point deadline = NextDeadline();
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      if (data->size() + static_cast<size_t>(got) > kClipboardTargetLimit) return false;
      data->append(buffer, static_cast<size_t>(got));
      deadline = NextDeadline();  // each wait for the next piece has the whole limit
      continue;
    }
    if (got == 0) return true;
    if (errno != EAGAIN && errno != EINTR) return false;
    pollfd watched{fd, POLLIN, 0};
    const int ready = poll(&watched, 1, MillisecondsLeft(deadline));
    if (ready == 0 || (ready < 0 && errno != EINTR)) {
      broken_ = true;
      return false;
    }
  }
}

}  // namespace

std::unique_ptr<ClipboardSnapshot> TakeWaylandClipboardSnapshot(
    std::chrono::milliseconds wait_limit) {
  auto snapshot = std::make_unique<WaylandSnapshot>(wait_limit);
  if (snapshot->Take()) return snapshot;
  return MakeEmptyClipboardSnapshot();
}

bool WaylandOffersDataControl(std::chrono::milliseconds wait_limit, const char** protocol) {
  WaylandConnection connection;
  if (!connection.Open(Clock::now() + wait_limit) || connection.data_control() == nullptr ||
      connection.seat().name == 0) {
    return false;
  }
  *protocol = connection.data_control()->manager->name;
  return true;
}
