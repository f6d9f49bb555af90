#ifndef ORVO_FETCH_CURL_FUNCTIONS_H_
#define ORVO_FETCH_CURL_FUNCTIONS_H_

// Internal to the fetch library: the work that calls libcurl itself, behind one table. libcurl
// brings Kerberos, LDAP, RTMP and their own dependencies, most of the libraries a started
// service had mapped; behind the table they are mapped when a length query or a download first
// needs them.
//
// Two providers of the table, chosen when a program is linked:
//   curl_functions.cc         libcurl in this process (tests, tools, and the module itself);
//   curl_functions_loaded.cc  the service: the module kCurlModule beside the executable, loaded
//                             at the first call and kept for the life of the process.

#include <cstdint>
#include <string>

// Each entry behaves as the public function it serves (curl_global.h, content_length.h).
struct CurlFunctions {
  // EnsureCurlGlobal.
  bool (*ensure_global)();
  // GetUrlContentLength with a time limit above 0.
  int64_t (*content_length)(const std::string& url, long timeout_ms);
};

inline constexpr char kCurlModule[] = "orvofetch.so";
inline constexpr char kCurlEntry[] = "OrvoCurlFunctions";

// The table; null when the module cannot be loaded: then no length is known (every reference is
// fetched), and the download library loads libcurl afresh at each download. Thread-safe; the
// first call may load the module.
const CurlFunctions* GetCurlFunctions();

// The table of the libcurl code linked into this program or module.
const CurlFunctions* LinkedCurlFunctions();

#endif  // ORVO_FETCH_CURL_FUNCTIONS_H_
