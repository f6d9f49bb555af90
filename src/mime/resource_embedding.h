#ifndef ORVO_MIME_RESOURCE_EMBEDDING_H_
#define ORVO_MIME_RESOURCE_EMBEDDING_H_

#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "fetch/download_url.h"
#include "mime/reference_resolution.h"
#include "mime/resource_registry.h"
#include "platform/file_system.h"

// Puts the bytes of one resolved, admitted reference into a local file, registers it and
// gives the page the text to use instead: "cid:" and a new Content-ID. A location met before
// is not fetched again: its first registration answers.
//
// Local files are used where they lie (a regular file only: pipes, devices, folders and link
// loops are never read); one file reached through several names (links, "..", doubled
// slashes) is embedded once. Web resources are downloaded into the workspace, recognised by
// their signature and renamed to the matching image extension. Nothing is ever written outside
// the workspace, and no existing file is ever replaced. Only images (and style sheets by their
// ".css" name; for downloads also WebP files) are embedded. A download is embedded only when
// its body fits its kind: a picture by its signature, a style sheet only when served as a text
// type other than HTML; one that does not fit is deleted. The name a download is stored under
// comes from the URL that is fetched: a fragment never decides it.
//
// Runs on the request's thread. Downloads keep the rules of the download library and share the
// request's DownloadBudget: once it is spent, no further web resource is embedded.

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
  DownloadBudget downloads;  // of the whole encode
  // Bytes of local pictures kept from their check for the codec: up to kKeptPictureBytes in
  // all, so that a page of large pictures does not hold them all beside its archive.
  uint64_t kept_bytes = 0;
  static constexpr uint64_t kKeptPictureBytes = 16 << 20;
  // The folders of local files, held open while the encode lasts so that each file in them is
  // looked at and read by its name alone, not found again from the root; a few at a time, by
  // path (a null handle: the folder could not be opened, its files are read by path).
  std::vector<std::pair<std::string, std::unique_ptr<HeldFolder>>> local_folders{};
  // The time part of the names local files are stored under, read at the first of them.
  std::string name_stamp{};
  // The bytes of the last local file judged but not kept (see kept_bytes).
  std::string judged_bytes{};
};

// The new reference text, or empty when nothing was embedded (the caller then keeps the page's
// own reference).
std::string EmbedResource(const ResolvedReference& reference, EmbedTarget& target, EmbedMode mode);

// The name a downloaded URL is first stored under, and its extension ("tmp" when there is
// none; "octet-stream" for a URL with a query); the fragment is not part of it, as it is not
// fetched. Exposed for tests.
struct DownloadName {
  std::string name;
  std::string extension;  // without the dot
};
DownloadName NameForDownload(const std::string& url);

#endif  // ORVO_MIME_RESOURCE_EMBEDDING_H_
