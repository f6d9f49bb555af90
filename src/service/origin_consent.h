#ifndef ORVO_SERVICE_ORIGIN_CONSENT_H_
#define ORVO_SERVICE_ORIGIN_CONSENT_H_

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/desktop_question.h"
#include "service/origin_allowlist.h"

// Which web pages may call the service, decided for each request before any route runs.
//
// A deployer's list beside the executable pins the decision: only the origins it names (a line
// "*": every origin), nobody is asked. Without that list the desktop user decides: a page
// origin not allowed yet is put to the user once, as a question on the desktop. An allowed
// origin is added to the user's own list, so it is served from then on, also after a restart;
// a declined one is refused without asking again until the service restarts. With no display
// to ask on, an unknown origin is refused at once, with a log line that says how to allow it.
// Requests without an Origin header come from the user's own programs and are served, unless
// the browser marks them cross-site (another site's image or link).
//
// Thread-safe. Concurrent first requests of one origin wait for one question; questions are
// asked one at a time.
class OriginConsent {
 public:
  using Ask = std::function<DesktopAnswer(const std::string& origin)>;

  // Pinned by a deployer's list.
  explicit OriginConsent(OriginAllowlist pinned);
  // The user decides through ask; allowed origins are appended to the file user_list_path
  // (its folder made when missing), which is read again for each decision, so an origin
  // whose line the user removed is asked for again.
  OriginConsent(std::string user_list_path, Ask ask);

  // The service's choice: pinned by the list at pinned_list_path when that file exists, else
  // asked with zenity, with the user's list in $XDG_CONFIG_HOME/orvohttps/allowed-origins.
  static std::unique_ptr<OriginConsent> ForService(const std::string& pinned_list_path);

  // Whether a request with these headers may run (origin and fetch_site as sent, has_origin
  // whether the Origin header was there). May wait for the user's answer.
  bool Allows(bool has_origin, std::string_view origin, std::string_view fetch_site);

  // One line for the log at start-up: how origins are decided.
  std::string Description() const;

 private:
  bool Decide(const std::string& origin);
  bool UserListNames(const std::string& origin) const;
  void Remember(const std::string& origin, DesktopAnswer answer);
  bool AppendToUserList(const std::string& origin) const;

  std::optional<OriginAllowlist> pinned_;
  std::string user_list_path_;
  Ask ask_;

  std::mutex mutex_;
  std::condition_variable answered_;
  std::set<std::string> asking_;    // questions being asked now
  std::set<std::string> declined_;  // until the service restarts
  std::set<std::string> allowed_;   // allowed while the user's list cannot be written
  std::mutex question_;             // one dialog at a time
};

#endif  // ORVO_SERVICE_ORIGIN_CONSENT_H_
