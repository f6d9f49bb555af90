// One round trip through the real word processor: the service, with no "winword" on PATH,
// opens the page in LibreOffice Writer under a private desktop; the test edits the document from
// outside, closes Writer's window through the window manager, and reads the answer.

#include <gtest/gtest.h>
#include <httplib.h>
#include <json/json.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>

#include "integration/service_fixture.h"
#include "platform/window_system.h"
#include "support/desktop.h"
#include "support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The page's document in the one request folder under temp, once it has been written.
std::string FindDocument(const std::string& temp) {
  std::error_code error;
  for (const auto& folder : fs::directory_iterator(temp + "/TAVU", error)) {
    for (const auto& entry : fs::directory_iterator(folder.path(), error)) {
      if (entry.path().extension() == ".html") return entry.path().string();
    }
  }
  return {};
}

// Processes whose arguments name a profile under folder (Writer's launcher and Writer itself).
int ProcessesNaming(const std::string& folder) {
  int count = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    std::ifstream file(entry.path() / "cmdline", std::ios::binary);
    std::string arguments((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (arguments.find("-env:UserInstallation=file://" + folder) != std::string::npos) ++count;
  }
  return count;
}

// Asks the window manager to close window, as a pager or task bar would.
void CloseThroughWindowManager(WindowId window) {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  const char name[] = "_NET_CLOSE_WINDOW";
  auto* atom = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
  xcb_client_message_event_t message = {};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = atom->atom;
  message.data.data32[1] = 2;
  xcb_send_event(connection, 0, screen->root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(connection);
  std::free(atom);
  xcb_disconnect(connection);
}

TEST(LibreOfficeRoundTrip, EditedDocumentComesBackAfterTheWindowCloses) {
  if (!desktop::HasProgram("soffice") || !desktop::HasProgram("openbox")) {
    GTEST_SKIP() << "LibreOffice Writer or openbox is not installed: no round trip with the "
                    "real word processor";
  }
  if (desktop::HasProgram("winword")) GTEST_SKIP() << "a program \"winword\" is on PATH";
  desktop::Desktop screen(desktop::WindowManager::kOpenbox);
  ASSERT_TRUE(screen.ok());
  scratch::ScratchFolder temp;
  scratch::TempDirOverride tmpdir(temp.path());
  service_test::ServiceProcess service;
  ASSERT_TRUE(service.Start());

  auto started = Clock::now();
  auto answer = std::async(std::launch::async, [&service] {
    auto client = service.Client();
    client->set_read_timeout(std::chrono::seconds(120));
    auto res = client->Post(
        "/", "{\"cmd\":\"cfp-0020\",\"session\":\"lo\",\"pdu\":{\"html\":\"<p>before</p>\"}}",
        "text/plain");
    return res ? res->body : std::string("no answer");
  });

  std::string document;
  WindowId window = 0;
  std::unique_ptr<WindowSystem> windows = WindowSystem::Connect();
  ASSERT_TRUE(windows);
  while (window == 0 && Clock::now() - started < std::chrono::seconds(90)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (document.empty()) document = FindDocument(temp.path());
    if (!document.empty()) {
      window = windows->FindWindowByTitle(fs::path(document).filename().string() +
                                          " - LibreOffice Writer");
    }
  }
  ASSERT_NE(window, 0u) << "no Writer window for " << document;
  auto first_window = Clock::now() - started;
  std::cout << "first Writer window after "
            << std::chrono::duration_cast<std::chrono::milliseconds>(first_window).count()
            << " ms\n";

  scratch::WriteFile(document, "<html><body><p>edited outside</p></body></html>");
  // Writer may still be starting up and pass over the first request to close.
  for (int i = 0; i < 30 && answer.wait_for(std::chrono::seconds(2)) != std::future_status::ready;
       ++i) {
    CloseThroughWindowManager(window);
  }
  ASSERT_EQ(answer.wait_for(std::chrono::seconds(1)), std::future_status::ready);

  Json::Value value;
  Json::Reader().parse(answer.get(), value);
  EXPECT_EQ(value["error"], -1);
  EXPECT_EQ(value["pdu"]["isupdate"], 1);
  EXPECT_EQ(value["pdu"]["updatedhtml"], "<html><body><p>edited outside</p></body></html>");
  // Writer may activate its own window before the service looks; if the service brought it
  // forward, it said so once.
  const std::string log = service.Output();
  EXPECT_EQ(log.find("\nMSWord Focus"), log.rfind("\nMSWord Focus"));
  // The request folder, the private profile in it included, is gone; the profile with one log
  // line, not one per file. No Writer process of the request is left.
  EXPECT_EQ(scratch::CountEntries(temp / "TAVU"), 0);
  EXPECT_EQ(log.find("/profile/"), std::string::npos) << "a log line per profile file";
  EXPECT_NE(log.find("RemoveDirectory : [ " + fs::path(document).parent_path().string() +
                     "/profile ]"),
            std::string::npos)
      << log;
  EXPECT_EQ(ProcessesNaming(temp.path()), 0);
  service.Client()->Get("/stop");
  EXPECT_EQ(service.WaitForExit(10000), 0);
}

}  // namespace
