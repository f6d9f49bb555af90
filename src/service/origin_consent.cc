#include "service/origin_consent.h"

#include "platform/file_system.h"
#include "platform/log.h"
#include "workspace/path_macros.h"

namespace {

constexpr std::chrono::seconds kQuestionTimeLimit{60};

// Only what a browser sends as an origin is put to the user: scheme "://" host, an optional
// port, nothing that could make the question read as something else. "null" (sandboxed frames,
// local files) stands for no page in particular and is never asked for.
bool AllOf(std::string_view text, std::string_view marks) {
  for (char c : text) {
    bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!alphanumeric && marks.find(c) == std::string_view::npos) return false;
  }
  return true;
}

bool IsAskable(const std::string& origin) {
  size_t separator = origin.find("://");
  if (separator == std::string::npos || separator == 0 || separator + 3 == origin.size()) {
    return false;
  }
  std::string_view text(origin);
  return AllOf(text.substr(0, separator), "+.-") && AllOf(text.substr(separator + 3), ".-_:[]");
}

DesktopAnswer AskWithDialog(const std::string& origin) {
  DesktopQuestion question;
  question.title = "OrvoHTTPS";
  question.text = "The web page\n\n    " + origin +
                  "\n\nwants to use OrvoHTTPS. Allowed, it can read pictures and files of this "
                  "computer and the clipboard, save HTML files and start the word processor.\n\n"
                  "Allow this site?";
  question.yes_label = "Allow";
  question.no_label = "Deny";
  return AskDesktopUser(question, kQuestionTimeLimit);
}

std::string UserListPath() {
  std::string config = FileSystem::Default().KnownFolderPath(KnownFolder::kConfig);
  return config.empty() ? std::string() : config + "/orvohttps/allowed-origins";
}

}  // namespace

OriginConsent::OriginConsent(OriginAllowlist pinned) : pinned_(std::move(pinned)) {}

OriginConsent::OriginConsent(std::string user_list_path, Ask ask)
    : user_list_path_(std::move(user_list_path)), ask_(std::move(ask)) {}

std::unique_ptr<OriginConsent> OriginConsent::ForService(const std::string& pinned_list_path) {
  std::optional<OriginAllowlist> pinned = OriginAllowlist::Load(pinned_list_path);
  if (pinned) return std::make_unique<OriginConsent>(std::move(*pinned));
  return std::make_unique<OriginConsent>(UserListPath(), AskWithDialog);
}

std::string OriginConsent::Description() const {
  if (!pinned_)
    return "web origins: the user is asked; allowed ones are kept in " + user_list_path_;
  if (pinned_->allows_every_origin()) return "allowed-origins: every origin is allowed";
  return "allowed-origins: " + std::to_string(pinned_->size()) + " origin(s) allowed";
}

bool OriginConsent::Allows(bool has_origin, std::string_view origin, std::string_view fetch_site) {
  if (pinned_) return pinned_->Allows(has_origin, origin, fetch_site);
  if (has_origin) return Decide(NormaliseOrigin(origin));
  if (!IsCrossSiteFetch(fetch_site) || UserListNames("*")) return true;
  Log("refused a cross-site request that names no origin\n");
  return false;
}

bool OriginConsent::UserListNames(const std::string& origin) const {
  std::optional<OriginAllowlist> list = OriginAllowlist::Load(user_list_path_);
  return list && list->Names(origin);
}

bool OriginConsent::Decide(const std::string& origin) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (declined_.count(origin) != 0) return false;
      if (allowed_.count(origin) != 0 || UserListNames(origin)) return true;
      if (asking_.count(origin) == 0) break;
      answered_.wait(lock);
    }
    if (!IsAskable(origin)) {
      Log("refused origin [%s]: not one the user can be asked about\n", origin.c_str());
      return false;
    }
    asking_.insert(origin);
  }
  DesktopAnswer answer;
  {
    std::lock_guard<std::mutex> one_dialog(question_);
    answer = ask_(origin);
  }
  Remember(origin, answer);
  return answer == DesktopAnswer::kYes;
}

// The user's list is written before the waiting requests of the same origin look at it again.
void OriginConsent::Remember(const std::string& origin, DesktopAnswer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  asking_.erase(origin);
  answered_.notify_all();
  switch (answer) {
    case DesktopAnswer::kNoDesktop:
      Log("refused origin [%s]: no display to ask on (or no zenity); to allow it, add the line "
          "\"%s\" to %s\n",
          origin.c_str(), origin.c_str(), user_list_path_.c_str());
      return;
    case DesktopAnswer::kNo:
      declined_.insert(origin);
      Log("origin [%s] declined by the user\n", origin.c_str());
      return;
    case DesktopAnswer::kYes:
      if (!AppendToUserList(origin)) {
        allowed_.insert(origin);
        Log("origin [%s] allowed until the service stops: %s cannot be written\n", origin.c_str(),
            user_list_path_.c_str());
      }
      return;
  }
}

bool OriginConsent::AppendToUserList(const std::string& origin) const {
  FileSystem& files = FileSystem::Default();
  std::string folder = FolderPart(user_list_path_);  // the config folder's "orvohttps/"
  files.MakeFolder(FolderPart(std::string_view(folder).substr(0, folder.size() - 1)));
  files.MakeFolder(folder);
  return files.WriteFile(user_list_path_, origin + "\n", WriteMode::kAppend).ok();
}
