#include "fetch/content_length.h"

#include <curl/curl.h>

#include <memory>
#include <string_view>

#include "fetch/curl_global.h"
#include "fetch/download_url.h"
#include "text/ascii.h"

namespace {

constexpr char kUserAgent[] = "KeldraPlugins";

// The Content-Length header of the last answer seen; redirects reset it with their status line.
struct LengthHeader {
  bool present = false;
  int64_t value = 0;
};

// Leading decimal digits after blanks; 0 when there are none. Saturates instead of overflowing.
int64_t ParseDecimal(std::string_view text) {
  size_t i = text.find_first_not_of(" \t");
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value > (INT64_MAX - 9) / 10) return INT64_MAX;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

size_t OnHeader(char* data, size_t size, size_t count, void* context) {
  auto* header = static_cast<LengthHeader*>(context);
  std::string_view line(data, size * count);
  if (StartsWithIgnoringAsciiCase(line, "http/")) {
    *header = LengthHeader{};
  } else if (StartsWithIgnoringAsciiCase(line, "content-length:")) {
    header->present = true;
    header->value = ParseDecimal(line.substr(15));
  }
  return size * count;
}

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

}  // namespace

int64_t GetUrlContentLength(const std::string& url) {
  if (!EnsureCurlGlobal()) return -1;
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) return -1;
  CURL* handle = easy.get();
  std::string request_url = EscapeUnsafeBytes(RequestUrl(url));
  LengthHeader header;
  curl_easy_setopt(handle, CURLOPT_URL, request_url.c_str());
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, kContentLengthTimeoutMs);
  curl_easy_setopt(handle, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &header);
  if (curl_easy_perform(handle) != CURLE_OK) return -1;
  return header.present ? header.value : -1;
}
