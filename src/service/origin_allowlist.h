#ifndef ORVO_SERVICE_ORIGIN_ALLOWLIST_H_
#define ORVO_SERVICE_ORIGIN_ALLOWLIST_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A list of page origins that may call the service: the deployer's "allowed-origins" beside the
// executable, or the user's own list of origins allowed when asked (see OriginConsent). Any page
// the user visits could otherwise ask the service to read local files or write HTML files.
//
// Immutable after loading; safe to share between request threads.
class OriginAllowlist {
 public:
  // Parses the file's text: one origin per line ("https://editor.example" or with a port);
  // blanks around it, empty lines and lines starting with '#' are ignored. A line "*" allows
  // every origin. The list restricts even when it names no origin.
  static OriginAllowlist FromText(std::string_view text);

  // Reads the list from path: nothing when there is no file; a file that exists but cannot be
  // read allows no origin, so a broken deployment fails closed.
  static std::optional<OriginAllowlist> Load(const std::string& path);

  bool allows_every_origin() const { return every_origin_; }
  size_t size() const { return origins_.size(); }

  // Whether a request may run. Requests without an Origin header do not come from a page's
  // script (a browser always sends one on a cross-origin POST, preflight and fetch) and are
  // allowed, unless fetch_site (the Sec-Fetch-Site header) is "cross-site": a browser sends a
  // foreign page's image or link request (an <img> naming "/stop") without an Origin but marked
  // so. Origins are compared as NormaliseOrigin gives them.
  bool Allows(bool has_origin, std::string_view origin, std::string_view fetch_site = {}) const;

  // Whether the list names this origin (already normalised), or allows every origin.
  bool Names(const std::string& normalised_origin) const;

 private:
  bool every_origin_ = false;
  std::vector<std::string> origins_;  // normalised
};

// An origin as browsers serialise it, so that a hand-written list compares: lower case, no
// trailing '/', no scheme default port (":443" for https, ":80" for http).
std::string NormaliseOrigin(std::string_view origin);

// Whether a request without an Origin header is one a browser marks as another site's
// (Sec-Fetch-Site: cross-site).
bool IsCrossSiteFetch(std::string_view fetch_site);

#endif  // ORVO_SERVICE_ORIGIN_ALLOWLIST_H_
