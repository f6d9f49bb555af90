// The work that calls libcurl itself, handed out as the table of curl_functions.h.
#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <string_view>

#include "download/transfer_rules.h"
#include "fetch/curl_functions.h"
#include "fetch/download_url.h"

namespace {

constexpr char kUserAgent[] = "KeldraPlugins";

// Bytes that cannot stand in a request line (a URL with a query reaches here as the page wrote
// it) are escaped, as a browser does.
std::string EscapeUnsafeBytes(std::string_view url) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(url.size());
  for (char c : url) {
    auto byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7F) {
      out.push_back(c);
    } else {
      out.append({'%', kHex[byte >> 4], kHex[byte & 0x0F]});
    }
  }
  return out;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};

// libcurl initialised once for the process and never released.
bool CurlGlobalInit() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

int64_t CurlContentLength(const std::string& url, long timeout_ms) {
  if (!CurlGlobalInit()) return -1;
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) return -1;
  CURL* handle = easy.get();
  curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_USERAGENT, kUserAgent);
  // The query reaches the same servers as the download after it: the same rules apply.
  orvohttp8::TransferRules rules;
  rules.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string request_url = EscapeUnsafeBytes(RequestUrl(url));
  if (orvohttp8::PerformUnderRules(handle, request_url, rules, nullptr, nullptr) !=
      orvohttp8::TransferResult::kDone) {
    return -1;
  }
  // The length the last answer (after redirects) announced; -1 when it announced none.
  curl_off_t length = -1;
  if (curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) {
    return -1;
  }
  return length;
}

}  // namespace

const CurlFunctions* LinkedCurlFunctions() {
  static const CurlFunctions functions = {CurlGlobalInit, CurlContentLength};
  return &functions;
}
