// The exports of orvohttp8.so: "GetHttpInterface" and "SetUserAgent". Everything else in the
// library is hidden (see exports.map).
//
// The settings are process-wide: the service loads the library once per download, and loads
// on several threads at once share one copy of it, so they are guarded.
#include <curl/curl.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "curl_download.h"
#include "http_interface.h"

namespace {

constexpr char kDefaultUserAgent[] = "orvohttp8/1.0";
constexpr int32_t kDefaultTimeoutMs = 3000;

std::atomic<int32_t> g_timeout_ms{kDefaultTimeoutMs};
std::mutex g_agent_mutex;
std::string g_user_agent = kDefaultUserAgent;

orvohttp8::DownloadSettings CurrentSettings() {
  orvohttp8::DownloadSettings settings;
  settings.timeout_ms = g_timeout_ms.load();
  std::lock_guard<std::mutex> lock(g_agent_mutex);
  settings.user_agent = g_user_agent;
  return settings;
}

int32_t Download(const char* url, const char* destination, int32_t reserved1, int32_t reserved2) {
  if (url == nullptr || destination == nullptr || *url == '\0' || *destination == '\0') return 0;
  if (reserved1 != 0 || reserved2 != 0) return 0;
  return orvohttp8::DownloadToFile(url, destination, CurrentSettings()).ok() ? 1 : 0;
}

int32_t OutcomeOf(const orvohttp8::DownloadResult& result) {
  using orvohttp8::TransferResult;
  if (result.too_large) return kHttpDownloadTooLarge;
  switch (result.transfer) {
    case TransferResult::kDone:
      return kHttpDownloadDone;
    case TransferResult::kRefusedAddress:
      return kHttpDownloadRefusedAddress;
    case TransferResult::kTooManyRedirects:
      return kHttpDownloadTooManyRedirects;
    case TransferResult::kTimedOut:
      return kHttpDownloadTimedOut;
    default:
      return kHttpDownloadFailed;
  }
}

int32_t DownloadChecked(const char* url, const char* destination, const HttpDownloadLimits* limits,
                        HttpDownloadReport* report) {
  if (report == nullptr) return 0;
  *report = HttpDownloadReport{kHttpDownloadFailed, 0, {}};
  if (url == nullptr || destination == nullptr || *url == '\0' || *destination == '\0') return 0;
  if (limits == nullptr || limits->max_bytes < 0 || limits->timeout_ms <= 0) return 0;
  orvohttp8::DownloadSettings settings = CurrentSettings();
  settings.timeout_ms = limits->timeout_ms;
  settings.max_bytes = limits->max_bytes;
  orvohttp8::DownloadResult result = orvohttp8::DownloadToFile(url, destination, settings);
  report->outcome = OutcomeOf(result);
  report->bytes = result.bytes;
  std::snprintf(report->content_type, sizeof report->content_type, "%s",
                result.content_type.c_str());
  return result.ok() ? 1 : 0;
}

int32_t SetTimeout(int32_t milliseconds) {
  if (milliseconds <= 0) return 0;
  g_timeout_ms.store(milliseconds);
  return 1;
}

// Every entry the service does not use: present, and failing.
int32_t Unsupported(void) { return 0; }

template <typename Function>
HttpEntry AsEntry(Function function) {
  return reinterpret_cast<HttpEntry>(function);
}

// libcurl's global state is set up when the library is loaded and released when it is
// unloaded; both are counted by libcurl, so a host that uses libcurl itself is not disturbed.
struct CurlGlobal {
  CurlGlobal() { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }
  ~CurlGlobal() {
    if (ok) curl_global_cleanup();
  }
  bool ok;
};
CurlGlobal g_curl_global;

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t GetHttpInterface(HttpInterface* table) {
  if (table == nullptr || !g_curl_global.ok) return 0;
  for (HttpEntry& entry : table->entries) entry = AsEntry(Unsupported);
  table->entries[kHttpDownloadEntry] = AsEntry(Download);
  table->entries[kHttpDownloadCheckedEntry] = AsEntry(DownloadChecked);
  table->entries[kHttpSetTimeoutEntry] = AsEntry(SetTimeout);
  return 1;
}

extern "C" __attribute__((visibility("default"))) int32_t SetUserAgent(const char* agent) {
  if (agent == nullptr) return 0;
  std::lock_guard<std::mutex> lock(g_agent_mutex);
  g_user_agent = *agent == '\0' ? kDefaultUserAgent : agent;
  return 1;
}
