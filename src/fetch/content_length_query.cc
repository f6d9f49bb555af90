#include "fetch/content_length.h"
#include "fetch/curl_functions.h"

int64_t GetUrlContentLength(const std::string& url) {
  return GetUrlContentLength(url, kContentLengthTimeoutMs);
}

int64_t GetUrlContentLength(const std::string& url, long timeout_ms) {
  if (timeout_ms <= 0) return -1;
  const CurlFunctions* curl = GetCurlFunctions();
  return curl != nullptr ? curl->content_length(url, timeout_ms) : -1;
}
