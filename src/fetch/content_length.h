#ifndef ORVO_FETCH_CONTENT_LENGTH_H_
#define ORVO_FETCH_CONTENT_LENGTH_H_

#include <cstdint>
#include <string>

// The time limit of one length query.
inline constexpr long kContentLengthTimeoutMs = 3000;

// Asks an http or https server for the length of url without fetching its body (a HEAD
// request, redirects followed, the fragment not sent). Returns the final answer's
// Content-Length as libcurl reads it; -1 when the URL cannot be opened (another scheme, no
// connection, an HTTP error status, the time limit) or the answer has no usable length (none,
// one that is not a number, one beyond 63 bits). Callers fetch whenever the result is not 0.
// Thread-safe.
// Redirects and addresses follow the download library's rules (download/transfer_rules.h).
int64_t GetUrlContentLength(const std::string& url);
// The same within timeout_ms instead of kContentLengthTimeoutMs; -1 at once for none.
int64_t GetUrlContentLength(const std::string& url, long timeout_ms);

#endif  // ORVO_FETCH_CONTENT_LENGTH_H_
