// The libcurl work as a module of its own (curl_functions.h): its one export hands out the
// table of the code linked into it.
#include "fetch/curl_functions.h"

extern "C" __attribute__((visibility("default"))) const CurlFunctions* OrvoCurlFunctions() {
  return LinkedCurlFunctions();
}
