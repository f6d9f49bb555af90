#ifndef ORVO_SERVICE_ORIGIN_ALLOWLIST_H_
#define ORVO_SERVICE_ORIGIN_ALLOWLIST_H_

#include <string>
#include <string_view>
#include <vector>

// The optional list of page origins that may call the service, read from a file
// "allowed-origins" beside the executable. Without the file every origin may call it: any page
// the user visits could then ask the service to read local images or write HTML files, which is
// why a deployment may want to name its editor's origins.
//
// Immutable after loading; safe to share between request threads.
class OriginAllowlist {
 public:
  // Allows every origin.
  OriginAllowlist() = default;

  // Parses the file's text: one origin per line ("https://editor.example" or with a port);
  // blanks around it, empty lines and lines starting with '#' are ignored. The result restricts
  // even when it names no origin.
  static OriginAllowlist FromText(std::string_view text);

  // Reads the list from path. A missing file allows every origin; a file that exists but cannot
  // be read allows none, so a broken deployment fails closed.
  static OriginAllowlist Load(const std::string& path);

  bool restricted() const { return restricted_; }
  size_t size() const { return origins_.size(); }

  // Whether a request may run. Requests without an Origin header do not come from a page's
  // script (a browser always sends one on a cross-origin POST, preflight and fetch) and are
  // allowed, unless fetch_site (the Sec-Fetch-Site header) is "cross-site": a browser sends a
  // foreign page's image or link request (an <img> naming "/stop") without an Origin but marked
  // so. Everything is allowed when the list does not restrict. Origins are compared without
  // regard to case, a trailing '/' and a default port (":443" for https, ":80" for http).
  bool Allows(bool has_origin, std::string_view origin, std::string_view fetch_site = {}) const;

 private:
  bool restricted_ = false;
  std::vector<std::string> origins_;  // normalised
};

#endif  // ORVO_SERVICE_ORIGIN_ALLOWLIST_H_
