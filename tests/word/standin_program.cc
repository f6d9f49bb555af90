// A stand-in for the desktop programs the service starts (the word processor "winword", the
// math editor "Editor"). What it does comes from the environment, so one binary plays every
// part:
//   ORVO_STANDIN_ACTIONS  comma-separated steps, run in order (or "@file": read from file):
//     args         write each argument on a line of $ORVO_STANDIN_ARGS_FILE
//     window       open a window titled $ORVO_STANDIN_TITLE (with _NET_WM_PID), wait up to 5 s
//                  for the input focus, then write "focused|unfocused x y width height" to
//                  $ORVO_STANDIN_REPORT; the window stays open until the program ends
//     sleep        wait 300 ms
//     hold         wait 30 s (a user who keeps the program open)
//     pid          write the process id to $ORVO_STANDIN_REPORT
//     edit         append "<p>edited</p>" to the document
//     same-second  rewrite the document with other bytes of the same size and give it back its
//                  old modification time, to the nanosecond
//     utf16        write the document as UTF-16LE with a mark ("<p>\u00e9\u4e2d</p>")
//     picture      write a PNG picture into the document's companion folder ({name}.files)
//     lo-picture   write a PNG picture beside the document as LibreOffice names it
//                  ({name}_html_{hash}.png)
//     delete       delete the document
//     med          write "MED1" to the path after "medfile="
//     png          write a PNG picture to the path after "output="
// The document is the first argument that is not "medfile=" / "output=" / the marker.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const unsigned char kPng[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
    0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
    0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78,
    0xDA, 0x63, 0xFC, 0xCF, 0xC0, 0xF0, 0x1F, 0x00, 0x05, 0x05, 0x02, 0x00, 0x5F, 0xC8,
    0xF1, 0xD2, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string Png() { return std::string(reinterpret_cast<const char*>(kPng), sizeof(kPng)); }

std::string ValueOf(const std::vector<std::string>& args, const std::string& key) {
  for (const std::string& a : args) {
    if (a.compare(0, key.size(), key) == 0) return a.substr(key.size());
  }
  return {};
}

std::string Document(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a.rfind("medfile=", 0) != 0 && a.rfind("output=", 0) != 0 && a[0] != '_' && a[0] != '-') {
      return a;
    }
  }
  return {};
}

void SameSecond(const std::string& path) {
  struct stat before;
  if (stat(path.c_str(), &before) != 0) return;
  std::string bytes = Read(path);
  for (char& c : bytes) c = (c == 'x') ? 'y' : 'x';
  Write(path, bytes);
  struct timespec times[2] = {before.st_atim, before.st_mtim};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

class Window {
 public:
  ~Window() {
    if (connection_ != nullptr) xcb_disconnect(connection_);
  }

  void Open(const std::string& title) {
    connection_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection_)) return;
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    window_ = xcb_generate_id(connection_);
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen_->root, 10, 10, 300, 200,
                      0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual, 0, nullptr);
    SetProperty(Atom("_NET_WM_NAME"), Atom("UTF8_STRING"), 8, title.data(), title.size());
    SetProperty(XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, title.data(), title.size());
    uint32_t pid = static_cast<uint32_t>(getpid());
    SetProperty(Atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, &pid, 1);
    xcb_map_window(connection_, window_);
    xcb_flush(connection_);
  }

  // Waits for the focus, then reports it and where the window is.
  void Report(const std::string& path) {
    bool focused = false;
    for (int i = 0; i < 100 && !focused && window_ != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      focused = HasFocus();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int x = 0, y = 0, width = 0, height = 0;
    if (window_ != 0) Geometry(x, y, width, height);
    std::ostringstream line;
    line << (focused ? "focused" : "unfocused") << ' ' << x << ' ' << y << ' ' << width << ' '
         << height;
    Write(path, line.str());
  }

 private:
  xcb_atom_t Atom(const char* name) {
    auto* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, std::strlen(name), name), nullptr);
    xcb_atom_t atom = reply != nullptr ? reply->atom : XCB_NONE;
    std::free(reply);
    return atom;
  }

  void SetProperty(xcb_atom_t property, xcb_atom_t type, int format, const void* data,
                   size_t count) {
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, property, type, format, count,
                        data);
  }

  bool HasFocus() {
    auto* focus = xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr);
    bool mine = focus != nullptr && focus->focus == window_;
    std::free(focus);
    if (mine) return true;
    auto* active =
        xcb_get_property_reply(connection_,
                               xcb_get_property(connection_, 0, screen_->root,
                                                Atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1),
                               nullptr);
    mine = active != nullptr && xcb_get_property_value_length(active) == 4 &&
           *static_cast<uint32_t*>(xcb_get_property_value(active)) == window_;
    std::free(active);
    return mine;
  }

  void Geometry(int& x, int& y, int& width, int& height) {
    auto* geometry =
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window_), nullptr);
    auto* place = xcb_translate_coordinates_reply(
        connection_, xcb_translate_coordinates(connection_, window_, screen_->root, 0, 0), nullptr);
    if (geometry != nullptr && place != nullptr) {
      x = place->dst_x;
      y = place->dst_y;
      width = geometry->width;
      height = geometry->height;
    }
    std::free(geometry);
    std::free(place);
  }

  xcb_connection_t* connection_ = nullptr;
  xcb_screen_t* screen_ = nullptr;
  xcb_window_t window_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string document = Document(args);
  Window window;
  std::string steps = Env("ORVO_STANDIN_ACTIONS");
  // "@file": the steps are in that file, so a test can change them for a running service.
  if (!steps.empty() && steps[0] == '@') steps = Read(steps.substr(1));
  std::stringstream actions(steps);
  for (std::string action; std::getline(actions, action, ',');) {
    if (action == "args") {
      std::string lines;
      for (const std::string& a : args) lines += a + "\n";
      Write(Env("ORVO_STANDIN_ARGS_FILE"), lines);
    } else if (action == "window") {
      window.Open(Env("ORVO_STANDIN_TITLE"));
      window.Report(Env("ORVO_STANDIN_REPORT"));
    } else if (action == "sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    } else if (action == "hold") {
      std::this_thread::sleep_for(std::chrono::seconds(30));
    } else if (action == "pid") {
      Write(Env("ORVO_STANDIN_REPORT"), std::to_string(getpid()));
    } else if (action == "edit") {
      Write(document, Read(document) + "<p>edited</p>");
    } else if (action == "same-second") {
      SameSecond(document);
    } else if (action == "utf16") {
      Write(document, std::string("\xFF\xFE<\0p\0>\0\xE9\0\x2D\x4E<\0/\0p\0>\0", 20));
    } else if (action == "picture") {
      std::string folder = document.substr(0, document.rfind('.')) + ".files";
      mkdir(folder.c_str(), 0755);
      Write(folder + "/picture.png", Png());
    } else if (action == "lo-picture") {
      Write(document.substr(0, document.rfind('.')) + "_html_f9655bac4bb61131.png", Png());
    } else if (action == "delete") {
      unlink(document.c_str());
    } else if (action == "med") {
      Write(ValueOf(args, "medfile="), "MED1");
    } else if (action == "png") {
      Write(ValueOf(args, "output="), Png());
    }
  }
  return 0;
}
