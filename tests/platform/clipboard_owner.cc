// A clipboard owner for tests and benchmarks: takes the CLIPBOARD selection on $DISPLAY and
// offers several targets at once, each with the bytes of a file, as a copying program does.
//
//   clipboard_owner [--chunk N] [--hang] [--refuse] [--die-mid-incr] [--incr-forever]
//                   [--announce N] [--piece-delay MS] TARGET FILE [TARGET FILE]...
//
// Data larger than the chunk size (default 65536 bytes) goes through INCR, one chunk per
// property deletion, for any number of requestors at once. --hang never answers a conversion
// request; --refuse answers TARGETS but refuses every conversion; --die-mid-incr exits after the
// first chunk of an incremental transfer; --incr-forever starts the data again instead of
// ending the transfer; --announce announces N bytes for INCR whatever the data's size;
// --piece-delay waits MS milliseconds before each piece. Prints "ready" on standard output once it owns the
// selection; exits 0 when another client takes the selection or on SIGTERM.

#include <unistd.h>
#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Offer {
  xcb_atom_t atom;
  std::string bytes;
};

struct Transfer {
  const std::string* bytes;
  size_t sent = 0;
  bool finished = false;  // the closing empty piece has been written
};

struct Options {
  size_t chunk = 65536;
  bool hang = false;
  bool refuse = false;
  bool die_mid_incr = false;
  bool incr_forever = false;
  long announce = -1;
  long piece_delay_ms = 0;
};

xcb_connection_t* c;
xcb_window_t window;
xcb_timestamp_t acquired;
xcb_atom_t clipboard, targets_atom, timestamp_atom, incr_atom;
std::vector<Offer> offers;
std::map<std::pair<xcb_window_t, xcb_atom_t>, Transfer> transfers;
Options options;

xcb_atom_t Intern(const std::string& name) {
  auto* reply = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
  xcb_atom_t atom = reply != nullptr ? reply->atom : XCB_NONE;
  free(reply);
  return atom;
}

void Notify(const xcb_selection_request_event_t& request, xcb_atom_t property) {
  xcb_selection_notify_event_t notify{};
  notify.response_type = XCB_SELECTION_NOTIFY;
  notify.time = request.time;
  notify.requestor = request.requestor;
  notify.selection = request.selection;
  notify.target = request.target;
  notify.property = property;
  xcb_send_event(c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                 reinterpret_cast<const char*>(&notify));
}

void Put(xcb_window_t w, xcb_atom_t property, xcb_atom_t type, int format, size_t count,
         const void* data) {
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, type, static_cast<uint8_t>(format),
                      static_cast<uint32_t>(count), data);
}

void Answer(const xcb_selection_request_event_t& request) {
  const xcb_atom_t property = request.property != XCB_NONE ? request.property : request.target;
  if (request.time != XCB_CURRENT_TIME && request.time < acquired) return Notify(request, XCB_NONE);
  if (request.target == targets_atom) {
    std::vector<xcb_atom_t> atoms{targets_atom, timestamp_atom};
    for (const Offer& offer : offers) atoms.push_back(offer.atom);
    Put(request.requestor, property, XCB_ATOM_ATOM, 32, atoms.size(), atoms.data());
    return Notify(request, property);
  }
  if (request.target == timestamp_atom) {
    Put(request.requestor, property, XCB_ATOM_INTEGER, 32, 1, &acquired);
    return Notify(request, property);
  }
  for (const Offer& offer : offers) {
    if (offer.atom != request.target || options.refuse) continue;
    if (offer.bytes.size() <= options.chunk) {
      Put(request.requestor, property, offer.atom, 8, offer.bytes.size(), offer.bytes.data());
      return Notify(request, property);
    }
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, request.requestor, XCB_CW_EVENT_MASK, &mask);
    const uint32_t size = static_cast<uint32_t>(
        options.announce >= 0 ? static_cast<size_t>(options.announce) : offer.bytes.size());
    Put(request.requestor, property, incr_atom, 32, 1, &size);
    transfers[{request.requestor, property}] = Transfer{&offer.bytes};
    return Notify(request, property);
  }
  Notify(request, XCB_NONE);
}

// The requestor deleted the property: it has read the last piece and wants the next one.
void Continue(const xcb_property_notify_event_t& event) {
  auto it = transfers.find({event.window, event.atom});
  if (it == transfers.end() || event.state != XCB_PROPERTY_DELETE) return;
  Transfer& t = it->second;
  if (t.finished) {
    transfers.erase(it);
    return;
  }
  if (options.die_mid_incr && t.sent > 0) {
    xcb_flush(c);
    _exit(3);
  }
  if (options.incr_forever && t.sent == t.bytes->size()) t.sent = 0;
  if (options.piece_delay_ms > 0) usleep(static_cast<useconds_t>(options.piece_delay_ms * 1000));
  const size_t n = std::min(options.chunk, t.bytes->size() - t.sent);
  Put(event.window, event.atom, XCB_ATOM_STRING, 8, n, t.bytes->data() + t.sent);
  t.sent += n;
  if (n == 0) t.finished = true;
}

bool ParseArguments(int argc, char** argv) {
  int i = 1;
  for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
    std::string flag = argv[i];
    if (flag == "--chunk" && i + 1 < argc) {
      options.chunk = std::strtoul(argv[++i], nullptr, 10);
    } else if (flag == "--hang") {
      options.hang = true;
    } else if (flag == "--refuse") {
      options.refuse = true;
    } else if (flag == "--die-mid-incr") {
      options.die_mid_incr = true;
    } else if (flag == "--incr-forever") {
      options.incr_forever = true;
    } else if (flag == "--announce" && i + 1 < argc) {
      options.announce = std::strtol(argv[++i], nullptr, 10);
    } else if (flag == "--piece-delay" && i + 1 < argc) {
      options.piece_delay_ms = std::strtol(argv[++i], nullptr, 10);
    } else {
      return false;
    }
  }
  for (; i + 1 < argc; i += 2) {
    std::ifstream in(argv[i + 1], std::ios::binary);
    if (!in) return false;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    offers.push_back({Intern(argv[i]), bytes.str()});
  }
  return i == argc && options.chunk > 0;
}

xcb_timestamp_t ServerTime() {
  xcb_change_property(c, XCB_PROP_MODE_APPEND, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0,
                      nullptr);
  xcb_flush(c);
  while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
    if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
      xcb_timestamp_t time = reinterpret_cast<xcb_property_notify_event_t*>(event)->time;
      free(event);
      return time;
    }
    free(event);
  }
  exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGTERM, [](int) { _exit(0); });
  c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) return 2;
  if (!ParseArguments(argc, argv)) {
    fprintf(stderr,
            "usage: clipboard_owner [--chunk N] [--hang] [--refuse] "
            "[--die-mid-incr] TARGET FILE...\n");
    return 1;
  }
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  window = xcb_generate_id(c);
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK, &mask);
  clipboard = Intern("CLIPBOARD");
  targets_atom = Intern("TARGETS");
  timestamp_atom = Intern("TIMESTAMP");
  incr_atom = Intern("INCR");
  acquired = ServerTime();
  xcb_set_selection_owner(c, window, clipboard, acquired);
  auto* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr);
  if (owner == nullptr || owner->owner != window) return 2;
  free(owner);
  printf("ready\n");
  fflush(stdout);
  while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
    switch (event->response_type & 0x7f) {
      case XCB_SELECTION_REQUEST:
        if (!options.hang) Answer(*reinterpret_cast<xcb_selection_request_event_t*>(event));
        break;
      case XCB_PROPERTY_NOTIFY:
        Continue(*reinterpret_cast<xcb_property_notify_event_t*>(event));
        break;
      case XCB_SELECTION_CLEAR:
        return 0;
    }
    free(event);
    xcb_flush(c);
  }
  return 0;
}
