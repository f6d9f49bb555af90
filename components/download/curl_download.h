#ifndef ORVO_COMPONENTS_DOWNLOAD_CURL_DOWNLOAD_H_
#define ORVO_COMPONENTS_DOWNLOAD_CURL_DOWNLOAD_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "transfer_rules.h"

namespace orvohttp8 {

struct DownloadSettings {
  std::string user_agent;  // sent as User-Agent; never empty
  long timeout_ms = 3000;  // total time limit of the whole transfer, redirects included
  int64_t max_bytes = INT64_MAX;  // of the body; a larger one fails the download
  AddressClassifier classify = ClassifyAddress;
};

struct DownloadResult {
  TransferResult transfer = TransferResult::kFailed;
  bool too_large = false;    // stopped because the body passed max_bytes
  int64_t bytes = 0;         // body bytes received, of a failed download too
  std::string content_type;  // of the final answer, as the server sent it; may be empty
  bool ok() const { return transfer == TransferResult::kDone; }
};

// Fetches url into destination over http or https (other schemes fail, also as redirect
// targets), under the rules of transfer_rules.h. An HTTP error status, a transfer cut off
// before its announced end, a write error, a body over max_bytes or the time limit is a
// failure. The body goes straight to a temporary file in destination's folder (never held in
// memory) that is renamed over destination only after the whole transfer succeeded, so on
// failure destination is left as it was and no partial file remains. Thread-safe: every call
// has its own transfer.
DownloadResult DownloadToFile(const std::string& url, const std::string& destination,
                              const DownloadSettings& settings);

// The URL as it goes on the wire: the fragment (from the first '#') is dropped, and bytes that
// cannot stand in a URL (controls, blanks, DEL, bytes above 0x7F) become upper-case %XX
// escapes, as a browser's address bar does. Everything else, existing escapes included, stays.
std::string WireUrl(std::string_view url);

// Whether url starts with "http://" or "https://", in any letter case.
bool HasHttpScheme(std::string_view url);

}  // namespace orvohttp8

#endif  // ORVO_COMPONENTS_DOWNLOAD_CURL_DOWNLOAD_H_
