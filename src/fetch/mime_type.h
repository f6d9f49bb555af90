#ifndef ORVO_FETCH_MIME_TYPE_H_
#define ORVO_FETCH_MIME_TYPE_H_

#include <string>
#include <string_view>

// The media type ("image/png") that the name at the end of url or path suggests, decided by its
// extension alone (letter case ignored) through the system's media-type database; nothing is
// read. The query ('?') and fragment ('#') are ignored. Empty text when the name suggests no
// type. Thread-safe.
std::string GetMimeTypeFromUrl(const std::string& url);

// Whether an answer's Content-Type ("text/css; charset=utf-8") may carry a style sheet: a text
// type other than HTML. Letter case, blanks and parameters do not matter; no type at all does
// not qualify. A page must not be able to have an intranet page or an API's answer embedded
// by naming it with ".css".
bool IsStyleSheetMediaType(std::string_view content_type);

#endif  // ORVO_FETCH_MIME_TYPE_H_
