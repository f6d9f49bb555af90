#ifndef ORVO_FETCH_CURL_GLOBAL_H_
#define ORVO_FETCH_CURL_GLOBAL_H_

// Initialises libcurl for the whole process once (the first call; later calls return at once)
// and never releases it. The download library, loaded and unloaded at each download, then
// finds libcurl and its TLS library in place instead of loading and initialising them again
// each time. Thread-safe. Returns whether libcurl is usable.
bool EnsureCurlGlobal();

#endif  // ORVO_FETCH_CURL_GLOBAL_H_
