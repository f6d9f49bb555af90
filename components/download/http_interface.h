#ifndef ORVO_COMPONENTS_DOWNLOAD_HTTP_INTERFACE_H_
#define ORVO_COMPONENTS_DOWNLOAD_HTTP_INTERFACE_H_

// The binary contract of the download library "orvohttp8" (orvohttp8.so), shared by the
// library and the service that loads it with dlopen. Plain C types only: the two sides may be
// built by different compilers.
//
// Text crosses the boundary as zero-terminated UTF-8; paths use '/'. Every entry returns a
// 32-bit integer; 0 means failure.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// A table slot: the generic function pointer type. Every entry is a function returning int32_t,
// stored under this one type and called only through the typed signature of its index (below);
// entries without a signature here take no arguments and return 0.
typedef void (*HttpEntry)(void);

enum {
  kHttpInterfaceEntries = 24,
  // HttpDownloadFunction: fetches a URL into a file.
  kHttpDownloadEntry = 4,
  // HttpDownloadCheckedFunction: the same with limits and a report.
  kHttpDownloadCheckedEntry = 5,
  // HttpSetTimeoutFunction: the total time limit of one download.
  kHttpSetTimeoutEntry = 11,
};

typedef struct HttpInterface {
  HttpEntry entries[kHttpInterfaceEntries];
} HttpInterface;

// Fetches url (http or https) into the file destination. Returns non-zero exactly when the
// file holds the whole body of a successful answer; on failure the destination is left as it
// was. The two trailing arguments are reserved and must be 0.
typedef int32_t (*HttpDownloadFunction)(const char* url, const char* destination, int32_t reserved1,
                                        int32_t reserved2);

// The limits of one checked download.
typedef struct HttpDownloadLimits {
  int64_t max_bytes;   // of the body (>= 0); a larger body fails the download
  int32_t timeout_ms;  // of the whole download, redirects included (> 0)
} HttpDownloadLimits;

enum {
  kHttpDownloadDone = 1,
  kHttpDownloadFailed = 2,          // no connection, an HTTP error, a cut-off body, ...
  kHttpDownloadRefusedAddress = 3,  // a link-local address, or a public hop into the intranet
  kHttpDownloadTooManyRedirects = 4,
  kHttpDownloadTimedOut = 5,
  kHttpDownloadTooLarge = 6,
};

// What a checked download did.
typedef struct HttpDownloadReport {
  int32_t outcome;         // one of kHttpDownload...
  int64_t bytes;           // body bytes received, of a failed download too
  char content_type[256];  // the final answer's Content-Type, zero-terminated; empty when none
} HttpDownloadReport;

// Fetches url as HttpDownloadFunction does, within *limits, and fills *report. Returns non-zero
// exactly when outcome is kHttpDownloadDone. Every download of the library connects only where
// its rules allow: never to a link-local address (169.254.0.0/16, fe80::/10), at most 5
// redirects, and after a hop served from a public address never to a loopback, private or
// link-local one.
typedef int32_t (*HttpDownloadCheckedFunction)(const char* url, const char* destination,
                                               const HttpDownloadLimits* limits,
                                               HttpDownloadReport* report);

// Sets the total time limit of each later download, in milliseconds (> 0). Returns non-zero
// when the value was taken.
typedef int32_t (*HttpSetTimeoutFunction)(int32_t milliseconds);

// Export "GetHttpInterface": fills every entry of *table. Entries other than the ones named
// above exist and return 0. Returns non-zero when the table was filled.
typedef int32_t (*GetHttpInterfaceFunction)(HttpInterface* table);

// Export "SetUserAgent": the User-Agent of later downloads; empty text selects the library's
// own. Returns non-zero when the text was taken.
typedef int32_t (*SetUserAgentFunction)(const char* agent);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // ORVO_COMPONENTS_DOWNLOAD_HTTP_INTERFACE_H_
