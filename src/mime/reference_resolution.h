#ifndef ORVO_MIME_REFERENCE_RESOLUTION_H_
#define ORVO_MIME_REFERENCE_RESOLUTION_H_

#include <string>
#include <string_view>

// Turning one reference a page makes (an attribute value, a url() of a style) into something
// the embedder can fetch: a local path or a web URL, or nothing when the reference is not to be
// followed. Pure functions of their text; thread-safe.

// Which references an encode follows ("mimeencodefilescope").
enum class FileScope : int {
  kLocalAndWeb = 0,  // local files; web (http, https, file) URLs only where admitted
  kAll = 1,          // local files and URLs of every scheme
  kUrlsOnly = 2,     // URLs of every scheme, no local files
};

struct ResolvedReference {
  std::string raw;           // the value as the page has it
  std::string resolved;      // a local path or a URL; empty when the reference is not followed
  bool is_relative = false;  // a relative path (not a URL) before it was combined with the base
  bool is_url = false;       // resolved names a URL rather than a local path
};

// Resolves raw against base for the file scope:
//  - "url(x)" is read as x; every '|' becomes ':' (a drive-letter URL) and '"' is dropped;
//  - a relative path is combined with base (an empty base leaves it as it is);
//  - a leading "file:" and the slashes after it are dropped, keeping one leading '/', so that
//    "file:///home/a.png" gives the absolute path "/home/a.png" (a "file:" later in the text,
//    as in a query, is part of that URL);
//  - a result equal to base (letter case ignored) is not followed;
//  - kLocalAndWeb follows local paths and http, https and file URLs; kUrlsOnly follows URLs of
//    any scheme and no local paths; kAll follows both;
//  - "data:" URLs are never followed.
ResolvedReference ResolveReference(std::string_view raw, std::string_view base,
                                   FileScope file_scope);

// Whether a web URL falls under the page's include prefix: prefix is not empty, not longer than
// text, and equals its beginning without regard to letter case.
bool PrefixMatches(std::string_view prefix, std::string_view text);

#endif  // ORVO_MIME_REFERENCE_RESOLUTION_H_
