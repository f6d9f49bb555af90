// A clipboard owner on Wayland for tests: sets the selection of the compositor's first seat
// through zwlr data-control and offers several MIME types at once, each with the bytes of a
// file, as a copying program does.
//
//   wayland_clipboard_owner [--hang] [--refuse] [--stall] TYPE FILE [TYPE FILE]...
//
// --hang never writes and keeps every pipe open; --refuse closes each pipe unwritten; --stall
// writes half of the bytes, then keeps the pipe open. Prints "ready" on standard output once
// the compositor has the selection; exits 0 when another client takes the selection or on
// SIGTERM.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace {

enum class Mode { kNormal, kHang, kRefuse, kStall };

Mode mode = Mode::kNormal;
std::map<std::string, std::string> offers;
zwlr_data_control_manager_v1* manager;
wl_seat* seat;

void WriteAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + sent, bytes.size() - sent);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

void Send(void*, zwlr_data_control_source_v1*, const char* type, int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  const std::string& bytes = offers[type];
  switch (mode) {
    case Mode::kHang:
      return;  // fd stays open, unwritten
    case Mode::kRefuse:
      close(fd);
      return;
    case Mode::kStall:
      std::thread([fd, half = bytes.substr(0, bytes.size() / 2)] { WriteAll(fd, half); }).detach();
      return;
    case Mode::kNormal:
      // Each reader gets its own writer, so concurrent readers all progress.
      std::thread([fd, &bytes] {
        WriteAll(fd, bytes);
        close(fd);
      }).detach();
      return;
  }
}

void Cancelled(void*, zwlr_data_control_source_v1*) { _exit(0); }

void Global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  if (strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0) {
    manager = static_cast<zwlr_data_control_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
  } else if (strcmp(interface, wl_seat_interface.name) == 0 && seat == nullptr) {
    seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  }
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGTERM, [](int) { _exit(0); });
  const std::map<std::string, Mode> flags = {
      {"--hang", Mode::kHang}, {"--refuse", Mode::kRefuse}, {"--stall", Mode::kStall}};
  std::vector<std::string> types;
  for (int i = 1; i < argc; ++i) {
    if (flags.count(argv[i]) != 0) {
      mode = flags.at(argv[i]);
    } else if (i + 1 < argc) {
      std::ostringstream bytes;
      bytes << std::ifstream(argv[i + 1], std::ios::binary).rdbuf();
      offers[argv[i]] = bytes.str();
      types.push_back(argv[i++]);
    }
  }
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return 1;
  static const wl_registry_listener kRegistry = {Global, [](void*, wl_registry*, uint32_t) {}};
  wl_registry_add_listener(wl_display_get_registry(display), &kRegistry, nullptr);
  wl_display_roundtrip(display);
  if (manager == nullptr || seat == nullptr) return 1;

  zwlr_data_control_source_v1* source = zwlr_data_control_manager_v1_create_data_source(manager);
  static const zwlr_data_control_source_v1_listener kSource = {Send, Cancelled};
  zwlr_data_control_source_v1_add_listener(source, &kSource, nullptr);
  for (const std::string& type : types) zwlr_data_control_source_v1_offer(source, type.c_str());
  zwlr_data_control_device_v1* device = zwlr_data_control_manager_v1_get_data_device(manager, seat);
  zwlr_data_control_device_v1_set_selection(device, source);
  wl_display_roundtrip(display);
  printf("ready\n");
  fflush(stdout);
  while (wl_display_dispatch(display) >= 0) {
  }
  return 0;
}
