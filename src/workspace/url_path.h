#ifndef ORVO_WORKSPACE_URL_PATH_H_
#define ORVO_WORKSPACE_URL_PATH_H_

#include <cstddef>
#include <string>
#include <string_view>

// The few URL questions that paths from a page raise, answered in one place: is this text a
// URL, is a path relative, combine a reference with a base, and undo percent escapes. Pure
// functions of their text; thread-safe.

// The length of the scheme text starts with ("http" in "http://x/a.png": 4): a letter, then
// letters, digits, '+', '-' or '.', then ':'. Schemes of one character are not taken, so that
// "c:/x" (a drive letter) is no URL. 0 when text does not start with a scheme.
size_t UrlSchemeLength(std::string_view text);

// Whether text starts with a scheme ("http:", "file:", "data:", "mailto:").
bool IsUrl(std::string_view text);

// Whether path is relative: not empty and not starting with '/'. A URL counts as relative, as
// it names no place in the file system by itself; callers ask IsUrl first. Empty text is
// relative.
bool IsRelativePath(std::string_view path);

// Resolves reference against base. With a URL base, by the rules of RFC 3986 (dot segments
// removed; an absolute reference stays as it is); with a local path base, a relative reference
// is joined to the base's folder (its text up to the last '/') and its "." and ".." segments
// resolved, so that one file has one spelling. An empty base gives reference;
// an empty reference gives empty text.
std::string CombineUrl(std::string_view base, std::string_view reference);

// Replaces every "%XX" escape (two hexadecimal digits) by its byte. Escapes that are not valid
// stay as they are, and so does "%00": a zero byte would cut the path short wherever it is
// handed on.
std::string UnescapeUrl(std::string_view text);

#endif  // ORVO_WORKSPACE_URL_PATH_H_
