#ifndef ORVO_MIME_RESOURCE_EMBEDDING_H_
#define ORVO_MIME_RESOURCE_EMBEDDING_H_

#include <string>
#include <unordered_set>

#include "mime/reference_resolution.h"
#include "mime/resource_registry.h"

// Puts the bytes of one resolved, admitted reference into a local file, registers it and
// gives the page the text to use instead: "cid:" and a new Content-ID. A location met before
// is not fetched again: its first registration answers.
//
// Local files are used where they lie (a regular file only: pipes, devices, folders and link
// loops are never read). Web resources are downloaded into the workspace, recognised by their
// signature and renamed to the matching image extension. Nothing is ever written outside the
// workspace, and no existing file is ever replaced. Only images (and style sheets by their
// ".css" name; for downloads also RIFF files, which are WebP) are embedded.
//
// Runs on the request's thread; blocks for at most the download time limit per distinct web
// resource (two for a script: a length query, then the download).

enum class EmbedMode {
  kContentId,  // the result is "cid:" and the Content-ID
  kFileName,   // scripts: the result is the name of the workspace copy
};

struct EmbedTarget {
  ResourceRegistry& registry;
  std::string workspace;            // the encode's folder, ending in '/'
  std::string fallback_media_type;  // for names that suggest no media type
  // Web locations that could not be embedded in this encode: a page that names one
  // unreachable picture a thousand times waits for it once, not a thousand times.
  std::unordered_set<std::string> failed_urls;
};

// The new reference text, or empty when nothing was embedded (the caller then keeps the page's
// own reference).
std::string EmbedResource(const ResolvedReference& reference, EmbedTarget& target, EmbedMode mode);

// The name a downloaded URL is first stored under, and its extension ("tmp" when there is
// none; "octet-stream" for a URL with a query). Exposed for tests.
struct DownloadName {
  std::string name;
  std::string extension;  // without the dot
};
DownloadName NameForDownload(const std::string& url);

#endif  // ORVO_MIME_RESOURCE_EMBEDDING_H_
