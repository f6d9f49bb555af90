#ifndef ORVO_FETCH_DOWNLOAD_URL_H_
#define ORVO_FETCH_DOWNLOAD_URL_H_

#include <string>
#include <string_view>

// The total time limit of one download, redirects included.
inline constexpr int kDownloadTimeoutMs = 3000;

// Fetches url (http or https) into the file destination through the download library beside
// the running executable, which is loaded for this call and unloaded after it. Returns non-zero
// exactly when destination now holds the URL's bytes; on failure destination is left as it was.
// Returns 0 when either text is empty or the library is unavailable (missing, or lacking one of
// its exports). Thread-safe.
//
// The URL is sent as RequestUrl gives it. Blocks for at most kDownloadTimeoutMs plus the time
// to load the library.
int DownloadUrl(const std::string& url, const std::string& destination);

// The same with the library looked up in library_folder (ending in '/') instead.
int DownloadUrl(const std::string& url, const std::string& destination,
                const std::string& library_folder);

// The URL as DownloadUrl hands it to the library: the fragment (from the first '#') is cut
// off, as it belongs to the page, not to the request. A URL with a query ('?') is then used as
// it is; in any other the part after "scheme://host" is encoded by EncodeUrl (the host is kept
// as it is, so IPv6 literals and international names survive).
std::string RequestUrl(std::string_view url);

#endif  // ORVO_FETCH_DOWNLOAD_URL_H_
