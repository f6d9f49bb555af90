#include "fetch/curl_global.h"

#include <curl/curl.h>

bool EnsureCurlGlobal() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}
