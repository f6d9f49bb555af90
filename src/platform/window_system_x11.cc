#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/window_system.h"
#include "platform/x11_connection.h"

namespace {

// A display that answers nothing within this time is treated as gone.
constexpr std::chrono::milliseconds kReplyTimeLimit{2000};

enum Atom {
  kNetClientList,
  kNetActiveWindow,
  kNetWmName,
  kNetWmPid,
  kNetWorkarea,
  kNetSupportingWmCheck,
  kUtf8String,
  kAtomCount
};
constexpr const char* kAtomNames[kAtomCount] = {
    "_NET_CLIENT_LIST", "_NET_ACTIVE_WINDOW",       "_NET_WM_NAME", "_NET_WM_PID",
    "_NET_WORKAREA",    "_NET_SUPPORTING_WM_CHECK", "UTF8_STRING"};

class X11WindowSystem : public WindowSystem {
 public:
  explicit X11WindowSystem(std::unique_ptr<XConnection> x)
      : x_(std::move(x)), connection_(x_->get()), screen_(x_->screen()) {}

  bool InternAtoms();

  WindowId FindWindowByTitle(const std::string& title) override;
  WindowId FindWindowOfProcesses(const std::vector<int>& pids) override;
  WindowId ForegroundWindow() override;
  void Activate(WindowId window) override;
  void Place(WindowId window, const ScreenArea& area) override;
  ScreenArea WorkArea() override;

 private:
  // Waits for the reply of cookie's request, at most kReplyTimeLimit. An error reply reads as
  // no reply: a failed window call is ignored.
  template <typename Reply, typename Cookie>
  XReply<Reply> Wait(Cookie cookie) {
    XReply<Reply> reply =
        x_->Await<Reply>(cookie, std::chrono::steady_clock::now() + kReplyTimeLimit);
    // Errors of unchecked window calls arrive as events, which nothing here reads.
    while (XEvent event{xcb_poll_for_event(connection_)}) continue;
    return reply;
  }

  // The values of a property of format 32 (windows, cardinals); empty when it is missing.
  std::vector<uint32_t> Cardinals(xcb_window_t window, xcb_atom_t property, xcb_atom_t type);
  std::string Title(xcb_window_t window);
  std::vector<xcb_window_t> TopLevelWindows();
  // The windows that are on the screen: one found before it is mapped could be neither raised
  // nor given the focus, and a document window is brought forward only once.
  std::vector<xcb_window_t> Shown(const std::vector<xcb_window_t>& windows);
  bool HasWindowManager();

  std::unique_ptr<XConnection> x_;
  xcb_connection_t* connection_;
  xcb_screen_t* screen_;
  xcb_atom_t atoms_[kAtomCount] = {};
};

bool X11WindowSystem::InternAtoms() {
  xcb_intern_atom_cookie_t cookies[kAtomCount];
  for (int i = 0; i < kAtomCount; ++i) {
    cookies[i] = xcb_intern_atom(connection_, 0, std::strlen(kAtomNames[i]), kAtomNames[i]);
  }
  for (int i = 0; i < kAtomCount; ++i) {
    auto reply = Wait<xcb_intern_atom_reply_t>(cookies[i]);
    if (!reply) return false;
    atoms_[i] = reply->atom;
  }
  return true;
}

std::vector<uint32_t> X11WindowSystem::Cardinals(xcb_window_t window, xcb_atom_t property,
                                                 xcb_atom_t type) {
  auto reply = Wait<xcb_get_property_reply_t>(
      xcb_get_property(connection_, 0, window, property, type, 0, 1 << 16));
  if (!reply || reply->format != 32) return {};
  const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
  int count = xcb_get_property_value_length(reply.get()) / 4;
  return std::vector<uint32_t>(values, values + count);
}

std::string X11WindowSystem::Title(xcb_window_t window) {
  for (xcb_atom_t property : {atoms_[kNetWmName], static_cast<xcb_atom_t>(XCB_ATOM_WM_NAME)}) {
    auto reply = Wait<xcb_get_property_reply_t>(
        xcb_get_property(connection_, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096));
    if (!reply || reply->format != 8 || reply->type == XCB_NONE) continue;
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       xcb_get_property_value_length(reply.get()));
  }
  return {};
}

bool X11WindowSystem::HasWindowManager() {
  return !Cardinals(screen_->root, atoms_[kNetSupportingWmCheck], XCB_ATOM_WINDOW).empty();
}

std::vector<xcb_window_t> X11WindowSystem::Shown(const std::vector<xcb_window_t>& windows) {
  std::vector<xcb_get_window_attributes_cookie_t> cookies;
  for (xcb_window_t window : windows) {
    cookies.push_back(xcb_get_window_attributes(connection_, window));
  }
  std::vector<xcb_window_t> shown;
  for (size_t i = 0; i < windows.size(); ++i) {
    auto attributes = Wait<xcb_get_window_attributes_reply_t>(cookies[i]);
    if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE) shown.push_back(windows[i]);
  }
  return shown;
}

std::vector<xcb_window_t> X11WindowSystem::TopLevelWindows() {
  if (HasWindowManager()) {
    std::vector<uint32_t> clients =
        Cardinals(screen_->root, atoms_[kNetClientList], XCB_ATOM_WINDOW);
    if (!clients.empty()) return Shown(clients);
  }
  auto tree = Wait<xcb_query_tree_reply_t>(xcb_query_tree(connection_, screen_->root));
  if (!tree) return {};
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  return Shown(
      std::vector<xcb_window_t>(children, children + xcb_query_tree_children_length(tree.get())));
}

WindowId X11WindowSystem::FindWindowByTitle(const std::string& title) {
  for (xcb_window_t window : TopLevelWindows()) {
    if (Title(window) == title) return window;
  }
  return 0;
}

WindowId X11WindowSystem::FindWindowOfProcesses(const std::vector<int>& pids) {
  for (xcb_window_t window : TopLevelWindows()) {
    std::vector<uint32_t> pid = Cardinals(window, atoms_[kNetWmPid], XCB_ATOM_CARDINAL);
    if (pid.empty()) continue;
    for (int wanted : pids) {
      if (static_cast<uint32_t>(wanted) == pid[0]) return window;
    }
  }
  return 0;
}

WindowId X11WindowSystem::ForegroundWindow() {
  if (HasWindowManager()) {
    std::vector<uint32_t> active =
        Cardinals(screen_->root, atoms_[kNetActiveWindow], XCB_ATOM_WINDOW);
    return active.empty() || active[0] == XCB_NONE ? screen_->root : active[0];
  }
  auto focus = Wait<xcb_get_input_focus_reply_t>(xcb_get_input_focus(connection_));
  if (!focus) return 0;
  if (focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT) {
    return screen_->root;
  }
  return focus->focus;
}

void X11WindowSystem::Activate(WindowId window) {
  if (HasWindowManager()) {
    // Source indication 2 (a pager, acting for the user): window managers that refuse focus
    // stealing from applications still honour it.
    xcb_client_message_event_t message = {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atoms_[kNetActiveWindow];
    message.data.data32[0] = 2;
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection_, 0, screen_->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
  } else {
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(connection_, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
  }
  // A round trip, so the requests have reached the server when we return.
  Wait<xcb_get_input_focus_reply_t>(xcb_get_input_focus(connection_));
}

void X11WindowSystem::Place(WindowId window, const ScreenArea& area) {
  xcb_map_window(connection_, window);
  const uint32_t values[] = {static_cast<uint32_t>(area.x), static_cast<uint32_t>(area.y),
                             static_cast<uint32_t>(area.width), static_cast<uint32_t>(area.height),
                             XCB_STACK_MODE_ABOVE};
  xcb_configure_window(connection_, window,
                       XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                           XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_STACK_MODE,
                       values);
  Wait<xcb_get_input_focus_reply_t>(xcb_get_input_focus(connection_));
}

ScreenArea X11WindowSystem::WorkArea() {
  std::vector<uint32_t> area = Cardinals(screen_->root, atoms_[kNetWorkarea], XCB_ATOM_CARDINAL);
  if (area.size() >= 4 && area[2] > 0 && area[3] > 0) {
    return {static_cast<int>(area[0]), static_cast<int>(area[1]), static_cast<int>(area[2]),
            static_cast<int>(area[3])};
  }
  return {0, 0, screen_->width_in_pixels, screen_->height_in_pixels};
}

}  // namespace

std::unique_ptr<WindowSystem> WindowSystem::Connect() {
  auto x = std::make_unique<XConnection>(kReplyTimeLimit);
  if (!x->ok()) return nullptr;
  auto system = std::make_unique<X11WindowSystem>(std::move(x));
  if (!system->InternAtoms()) return nullptr;
  return system;
}

ScreenMetrics GetScreenMetrics() {
  ScreenMetrics metrics;
  XConnection x(kReplyTimeLimit);
  if (x.ok() && x.screen()->width_in_millimeters > 0 && x.screen()->height_in_millimeters > 0) {
    metrics.width_pixels = x.screen()->width_in_pixels;
    metrics.height_pixels = x.screen()->height_in_pixels;
    metrics.width_millimeters = x.screen()->width_in_millimeters;
    metrics.height_millimeters = x.screen()->height_in_millimeters;
    return metrics;
  }
  // 96 pixels per inch: 1920 px over 508 mm, 1080 px over 285.75 mm (rounded).
  metrics.width_pixels = 1920;
  metrics.height_pixels = 1080;
  metrics.width_millimeters = 508;
  metrics.height_millimeters = 286;
  return metrics;
}
