// The in-process provider of the libcurl table (curl_functions.h).
#include "fetch/curl_functions.h"

const CurlFunctions* GetCurlFunctions() { return LinkedCurlFunctions(); }
