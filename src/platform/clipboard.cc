// The choice of clipboard back end, made once per process, and what all back ends share.

#include "platform/clipboard.h"

#include <algorithm>
#include <mutex>

#include "platform/clipboard_backends.h"
#include "platform/environment.h"
#include "platform/log.h"

namespace {

class EmptySnapshot : public ClipboardSnapshot {
 public:
  const std::vector<std::string>& Targets() const override { return targets_; }
  bool Read(std::string_view, std::string* data) override {
    data->clear();
    return false;
  }

 private:
  std::vector<std::string> targets_;
};

// The variable's value; empty when it is unset or set to nothing.
std::string Variable(const char* name) { return EnvironmentVariable(name).value_or(""); }

}  // namespace

bool ClipboardSnapshot::Offers(std::string_view target) const {
  const std::vector<std::string>& targets = Targets();
  return std::find(targets.begin(), targets.end(), target) != targets.end();
}

bool ClipboardSnapshot::ReadInto(std::string_view target, ClipboardSink* sink) {
  std::string data;
  if (!Read(target, &data)) return false;
  sink->Expect(data.size());
  sink->Append(data);
  return true;
}

std::unique_ptr<ClipboardSnapshot> MakeEmptyClipboardSnapshot() {
  return std::make_unique<EmptySnapshot>();
}

ClipboardBackend ChooseClipboardBackend(std::chrono::milliseconds wait_limit) {
  static std::once_flag once;
  static ClipboardBackend chosen = ClipboardBackend::kNone;
  std::call_once(once, [wait_limit] {
    const char* protocol = nullptr;
    const std::string wayland = Variable("WAYLAND_DISPLAY");
    const std::string display = Variable("DISPLAY");
    if (!wayland.empty() && WaylandOffersDataControl(wait_limit, &protocol)) {
      chosen = ClipboardBackend::kWayland;
      Log("clipboard: Wayland (%s on %s)\n", protocol, wayland.c_str());
    } else if (!display.empty()) {
      chosen = ClipboardBackend::kX11;
      Log("clipboard: X11 (%s)\n", display.c_str());
    } else {
      Log("clipboard: none (neither a Wayland compositor with data-control nor DISPLAY)\n");
    }
  });
  return chosen;
}

std::unique_ptr<ClipboardSnapshot> TakeClipboardSnapshot(std::chrono::milliseconds wait_limit) {
  return TakeClipboardSnapshot(ChooseClipboardBackend(), wait_limit);
}

std::unique_ptr<ClipboardSnapshot> TakeClipboardSnapshot(ClipboardBackend backend,
                                                         std::chrono::milliseconds wait_limit) {
  switch (backend) {
    case ClipboardBackend::kX11:
      return TakeX11ClipboardSnapshot(wait_limit);
    case ClipboardBackend::kWayland:
      return TakeWaylandClipboardSnapshot(wait_limit);
    case ClipboardBackend::kNone:
      break;
  }
  return MakeEmptyClipboardSnapshot();
}
