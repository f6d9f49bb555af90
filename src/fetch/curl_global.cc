#include "fetch/curl_global.h"

#include "fetch/curl_functions.h"

bool EnsureCurlGlobal() {
  const CurlFunctions* curl = GetCurlFunctions();
  return curl != nullptr && curl->ensure_global();
}
