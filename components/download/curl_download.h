#ifndef ORVO_COMPONENTS_DOWNLOAD_CURL_DOWNLOAD_H_
#define ORVO_COMPONENTS_DOWNLOAD_CURL_DOWNLOAD_H_

#include <string>
#include <string_view>

namespace orvohttp8 {

struct DownloadSettings {
  std::string user_agent;  // sent as User-Agent; never empty
  long timeout_ms = 3000;  // total time limit of the whole transfer, redirects included
};

// Fetches url into destination over http or https (other schemes fail, also as redirect
// targets). Follows at most kMaxRedirects redirects; an HTTP error status, a transfer cut off
// before its announced end, a write error or the time limit is a failure. The body is written
// to a temporary file in destination's folder and renamed over destination only after the
// whole transfer succeeded, so on failure destination is left as it was and no partial file
// remains. Thread-safe: every call has its own transfer.
bool DownloadToFile(const std::string& url, const std::string& destination,
                    const DownloadSettings& settings);

inline constexpr long kMaxRedirects = 10;

// The URL as it goes on the wire: the fragment (from the first '#') is dropped, and bytes that
// cannot stand in a URL (controls, blanks, DEL, bytes above 0x7F) become upper-case %XX
// escapes, as a browser's address bar does. Everything else, existing escapes included, stays.
std::string WireUrl(std::string_view url);

// Whether url starts with "http://" or "https://", in any letter case.
bool HasHttpScheme(std::string_view url);

}  // namespace orvohttp8

#endif  // ORVO_COMPONENTS_DOWNLOAD_CURL_DOWNLOAD_H_
