#include "fetch/download_url.h"

#include <algorithm>

#include "download/http_interface.h"
#include "fetch/curl_global.h"
#include "fetch/encode_url.h"
#include "fetch/xhttp.h"
#include "text/text_conversion.h"
#include "workspace/url_path.h"

namespace {

// Offset where the path of "scheme://authority/path" begins (the authority's end), or 0 when
// the text does not start with a scheme and "//".
size_t PathStart(std::string_view url) {
  size_t colon = UrlSchemeLength(url);
  if (colon == 0 || url.compare(colon, 3, "://") != 0) return 0;
  size_t slash = url.find('/', colon + 3);
  return slash == std::string_view::npos ? url.size() : slash;
}

int DownloadWith(XHttp& http, const std::string& url, const std::string& destination) {
  EnsureCurlGlobal();
  if (http.Load()) http.SetTimeout(kDownloadTimeoutMs);
  if (url.empty() || destination.empty()) return 0;
  if (!http.IsLoaded()) return 0;
  http.SetUserAgent("");
  return http.Download(RequestUrl(url), destination);
}

DownloadOutcome OutcomeOf(int32_t outcome) {
  switch (outcome) {
    case kHttpDownloadDone:
      return DownloadOutcome::kDone;
    case kHttpDownloadRefusedAddress:
      return DownloadOutcome::kRefusedAddress;
    case kHttpDownloadTooManyRedirects:
      return DownloadOutcome::kTooManyRedirects;
    case kHttpDownloadTimedOut:
      return DownloadOutcome::kTimedOut;
    case kHttpDownloadTooLarge:
      return DownloadOutcome::kTooLarge;
    default:
      return DownloadOutcome::kFailed;
  }
}

DownloadReport DownloadCheckedWith(XHttp& http, const std::string& url,
                                   const std::string& destination,
                                   const HttpDownloadLimits& limits) {
  DownloadReport report;
  EnsureCurlGlobal();
  if (url.empty() || destination.empty() || !http.Load()) return report;
  http.SetUserAgent("");
  HttpDownloadReport raw{kHttpDownloadFailed, 0, {}};
  int32_t done = http.DownloadChecked(RequestUrl(url), destination, limits, &raw);
  raw.content_type[sizeof raw.content_type - 1] = '\0';
  // A library that failed without a report (an older one, lacking the entry) failed.
  DownloadOutcome failed = OutcomeOf(raw.outcome);
  report.outcome = done != 0 ? DownloadOutcome::kDone
                   : failed == DownloadOutcome::kDone ? DownloadOutcome::kFailed
                                                      : failed;
  report.bytes = raw.bytes;
  report.content_type = raw.content_type;
  return report;
}

}  // namespace

DownloadBudget::DownloadBudget(int64_t bytes, std::chrono::milliseconds time)
    : bytes_left_(bytes), deadline_(std::chrono::steady_clock::now() + time) {}

bool DownloadBudget::Exhausted() const {
  return exhausted_ || bytes_left_ <= 0 || TimeLeftMs(1) == 0;
}

int DownloadBudget::TimeLeftMs(int at_most) const {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline_ - std::chrono::steady_clock::now());
  return static_cast<int>(std::clamp<int64_t>(left.count(), 0, at_most));
}

void DownloadBudget::Spend(const DownloadReport& report, bool time_was_the_budgets) {
  bytes_left_ -= std::min(report.bytes, bytes_left_);
  if (report.outcome == DownloadOutcome::kTooLarge) exhausted_ = true;
  if (report.outcome == DownloadOutcome::kTimedOut && time_was_the_budgets) {
    exhausted_ = true;
    out_of_time_ = true;
  }
}

DownloadReport DownloadWithin(const std::string& url, const std::string& destination,
                              DownloadBudget& budget, const std::string& library_folder) {
  if (budget.Exhausted()) {
    return DownloadReport{
        budget.OutOfTime() ? DownloadOutcome::kTimedOut : DownloadOutcome::kTooLarge, 0, {}};
  }
  HttpDownloadLimits limits{budget.bytes_left(), budget.TimeLeftMs(kDownloadTimeoutMs)};
  XHttp http = library_folder.empty() ? XHttp() : XHttp(library_folder);
  DownloadReport report = DownloadCheckedWith(http, url, destination, limits);
  budget.Spend(report, limits.timeout_ms < kDownloadTimeoutMs);
  return report;
}

std::string RequestUrl(std::string_view url) {
  std::string text = WideToUtf8(url);
  text.erase(std::min(text.find('#'), text.size()));
  if (text.find('?') != std::string::npos) return text;
  size_t path_start = PathStart(text);
  std::string_view rest = std::string_view(text).substr(path_start);
  return text.substr(0, path_start) + Utf8ToWide(EncodeUrl(rest));
}

int DownloadUrl(const std::string& url, const std::string& destination) {
  XHttp http;
  return DownloadWith(http, url, destination);
}

int DownloadUrl(const std::string& url, const std::string& destination,
                const std::string& library_folder) {
  XHttp http(library_folder);
  return DownloadWith(http, url, destination);
}
