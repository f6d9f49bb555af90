#ifndef ORVO_FETCH_DOWNLOAD_URL_H_
#define ORVO_FETCH_DOWNLOAD_URL_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// The total time limit of one download, redirects included.
inline constexpr int kDownloadTimeoutMs = 3000;

// All downloads of one request together: at most this many body bytes and this much time.
// A page that names a 1 GiB style sheet, or a hundred slow servers, costs no more.
inline constexpr int64_t kRequestDownloadBytes = int64_t{256} << 20;
inline constexpr std::chrono::milliseconds kRequestDownloadTime{15000};

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

enum class DownloadOutcome {
  kDone,
  kFailed,          // no library, no connection, an HTTP error, a cut-off body
  kRefusedAddress,  // link-local, or a redirect from a public address into the intranet
  kTooManyRedirects,
  kTimedOut,
  kTooLarge,
};

struct DownloadReport {
  DownloadOutcome outcome = DownloadOutcome::kFailed;
  int64_t bytes = 0;         // body bytes received, of a failed download too
  std::string content_type;  // the final answer's Content-Type as sent; may be empty
  bool ok() const { return outcome == DownloadOutcome::kDone; }
};

// What the downloads of one request may still take. Its clock starts when it is made. Used by
// the one request thread.
class DownloadBudget {
 public:
  DownloadBudget() : DownloadBudget(kRequestDownloadBytes, kRequestDownloadTime) {}
  DownloadBudget(int64_t bytes, std::chrono::milliseconds time);

  // True once the bytes or the time are used up: nothing more is fetched.
  bool Exhausted() const;
  int64_t bytes_left() const { return bytes_left_; }
  // Whether it was the time that ran out (rather than the bytes).
  bool OutOfTime() const { return out_of_time_ || TimeLeftMs(1) == 0; }
  // The time left in milliseconds, but at most at_most; 0 when none is left.
  int TimeLeftMs(int at_most) const;
  // Takes what a download received. A download stopped by the budget's own byte or time limit
  // exhausts it, so that the rest of the page is not fetched.
  void Spend(const DownloadReport& report, bool time_was_the_budgets);

 private:
  int64_t bytes_left_;
  std::chrono::steady_clock::time_point deadline_;
  bool exhausted_ = false;
  bool out_of_time_ = false;
};

// Fetches url into destination as DownloadUrl does (the same library, URL and rules), within
// what budget has left and at most kDownloadTimeoutMs, and spends from budget. Nothing is
// fetched once the budget is exhausted. On failure destination is left as it was: a body cut
// off by a limit is never kept. library_folder empty: beside the executable.
DownloadReport DownloadWithin(const std::string& url, const std::string& destination,
                              DownloadBudget& budget, const std::string& library_folder = "");

#endif  // ORVO_FETCH_DOWNLOAD_URL_H_
