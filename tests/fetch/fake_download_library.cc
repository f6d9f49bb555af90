// Stand-ins for the download library, built several times as "orvohttp8.so" in separate
// folders, each variant lacking one thing the loader insists on; the complete one records the
// calls it receives so that tests can check what the service hands to the library.
//
//   FAKE_WITHOUT_GET_INTERFACE  no "GetHttpInterface" export
//   FAKE_INTERFACE_FAILS        "GetHttpInterface" answers 0
//   FAKE_WITHOUT_USER_AGENT     no "SetUserAgent" export
#include <cstdio>
#include <cstring>
#include <string>

#include "download/http_interface.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Calls {
  int32_t timeout = -1;
  int set_timeout_calls = 0;
  std::string user_agent = "(not set)";
  std::string url;
  std::string destination;
  int32_t reserved1 = -1;
  int32_t reserved2 = -1;
  int downloads = 0;
} g_calls;

// What Download answers; a value no real library uses, so a test sees that it is passed on.
constexpr int32_t kDownloadResult = 7;

[[maybe_unused]] int32_t Download(const char* url, const char* destination, int32_t reserved1,
                                  int32_t reserved2) {
  g_calls.url = url;
  g_calls.destination = destination;
  g_calls.reserved1 = reserved1;
  g_calls.reserved2 = reserved2;
  ++g_calls.downloads;
  return kDownloadResult;
}

[[maybe_unused]] int32_t SetTimeout(int32_t milliseconds) {
  g_calls.timeout = milliseconds;
  ++g_calls.set_timeout_calls;
  return 1;
}

[[maybe_unused]] int32_t Unsupported(void) { return 0; }

}  // namespace

#ifndef FAKE_WITHOUT_GET_INTERFACE
FAKE_EXPORT int32_t GetHttpInterface(HttpInterface* table) {
#ifdef FAKE_INTERFACE_FAILS
  return 0;
#else
  for (HttpEntry& entry : table->entries) entry = reinterpret_cast<HttpEntry>(Unsupported);
  table->entries[kHttpDownloadEntry] = reinterpret_cast<HttpEntry>(Download);
  table->entries[kHttpSetTimeoutEntry] = reinterpret_cast<HttpEntry>(SetTimeout);
  return 1;
#endif
}
#endif

#ifndef FAKE_WITHOUT_USER_AGENT
FAKE_EXPORT int32_t SetUserAgent(const char* agent) {
  g_calls.user_agent = agent;
  return 1;
}
#endif

// Read by the tests, which keep the library loaded themselves so that these survive the
// service's unload. (No std::to_string here: its tables would pin the library in memory.)
FAKE_EXPORT const char* FakeRecorded(const char* what) {
  static char number[64];
  if (std::strcmp(what, "user_agent") == 0) return g_calls.user_agent.c_str();
  if (std::strcmp(what, "url") == 0) return g_calls.url.c_str();
  if (std::strcmp(what, "destination") == 0) return g_calls.destination.c_str();
  if (std::strcmp(what, "timeout") == 0) {
    std::snprintf(number, sizeof number, "%d", g_calls.timeout);
  } else if (std::strcmp(what, "set_timeout_calls") == 0) {
    std::snprintf(number, sizeof number, "%d", g_calls.set_timeout_calls);
  } else if (std::strcmp(what, "downloads") == 0) {
    std::snprintf(number, sizeof number, "%d", g_calls.downloads);
  } else if (std::strcmp(what, "reserved") == 0) {
    std::snprintf(number, sizeof number, "%d,%d", g_calls.reserved1, g_calls.reserved2);
  } else {
    return "";
  }
  return number;
}
