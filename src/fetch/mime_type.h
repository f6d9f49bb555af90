#ifndef ORVO_FETCH_MIME_TYPE_H_
#define ORVO_FETCH_MIME_TYPE_H_

#include <string>

// The media type ("image/png") that the name at the end of url or path suggests, decided by its
// extension alone (letter case ignored) through the system's media-type database; nothing is
// read. The query ('?') and fragment ('#') are ignored. Empty text when the name suggests no
// type. Thread-safe.
std::string GetMimeTypeFromUrl(const std::string& url);

#endif  // ORVO_FETCH_MIME_TYPE_H_
