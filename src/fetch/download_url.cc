#include "fetch/download_url.h"

#include <algorithm>

#include "fetch/curl_global.h"
#include "fetch/encode_url.h"
#include "fetch/xhttp.h"
#include "text/text_conversion.h"
#include "workspace/url_path.h"

namespace {

// Offset where the path of "scheme://authority/path" begins (the authority's end), or 0 when
// the text does not start with a scheme and "//".
size_t PathStart(std::string_view url) {
  size_t colon = UrlSchemeLength(url);
  if (colon == 0 || url.compare(colon, 3, "://") != 0) return 0;
  size_t slash = url.find('/', colon + 3);
  return slash == std::string_view::npos ? url.size() : slash;
}

int DownloadWith(XHttp& http, const std::string& url, const std::string& destination) {
  EnsureCurlGlobal();
  if (http.Load()) http.SetTimeout(kDownloadTimeoutMs);
  if (url.empty() || destination.empty()) return 0;
  if (!http.IsLoaded()) return 0;
  http.SetUserAgent("");
  return http.Download(RequestUrl(url), destination);
}

}  // namespace

std::string RequestUrl(std::string_view url) {
  std::string text = WideToUtf8(url);
  text.erase(std::min(text.find('#'), text.size()));
  if (text.find('?') != std::string::npos) return text;
  size_t path_start = PathStart(text);
  std::string_view rest = std::string_view(text).substr(path_start);
  return text.substr(0, path_start) + Utf8ToWide(EncodeUrl(rest));
}

int DownloadUrl(const std::string& url, const std::string& destination) {
  XHttp http;
  return DownloadWith(http, url, destination);
}

int DownloadUrl(const std::string& url, const std::string& destination,
                const std::string& library_folder) {
  XHttp http(library_folder);
  return DownloadWith(http, url, destination);
}
