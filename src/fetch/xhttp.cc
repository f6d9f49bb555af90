#include "fetch/xhttp.h"

#include "download/http_interface.h"
#include "platform/dynamic_library.h"
#include "platform/executable_path.h"

XHttp::XHttp() : XHttp(ExecutableFolder()) {}

XHttp::XHttp(std::string library_folder)
    : library_folder_(std::move(library_folder)), interface_(new HttpInterface{}) {}

XHttp::~XHttp() = default;

bool XHttp::Load() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (module_) return true;
  // Without the executable's folder there is nowhere to look: a bare name would make the
  // loader search the system's library path.
  if (library_folder_.empty()) return false;
  std::unique_ptr<DynamicLibrary> module = DynamicLibrary::Load(library_folder_ + kLibraryFileName);
  if (!module) return false;
  auto get_interface =
      reinterpret_cast<GetHttpInterfaceFunction>(module->Symbol("GetHttpInterface"));
  if (get_interface == nullptr) return false;
  HttpInterface table{};
  if (get_interface(&table) == 0) return false;
  void* set_user_agent = module->Symbol("SetUserAgent");
  if (set_user_agent == nullptr) return false;
  *interface_ = table;
  set_user_agent_ = set_user_agent;
  module_ = std::move(module);
  return true;
}

bool XHttp::IsLoaded() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return module_ != nullptr;
}

int32_t XHttp::SetTimeout(int32_t milliseconds) {
  if (!IsLoaded()) return 0;
  HttpEntry entry = interface_->entries[kHttpSetTimeoutEntry];
  if (entry == nullptr) return 0;
  return reinterpret_cast<HttpSetTimeoutFunction>(entry)(milliseconds);
}

int32_t XHttp::SetUserAgent(const std::string& agent) {
  if (!IsLoaded()) return 0;
  return reinterpret_cast<SetUserAgentFunction>(set_user_agent_)(agent.c_str());
}

int32_t XHttp::Download(const std::string& url, const std::string& destination) {
  if (!IsLoaded()) return 0;
  HttpEntry entry = interface_->entries[kHttpDownloadEntry];
  if (entry == nullptr) return 0;
  return reinterpret_cast<HttpDownloadFunction>(entry)(url.c_str(), destination.c_str(), 0, 0);
}

int32_t XHttp::DownloadChecked(const std::string& url, const std::string& destination,
                               const HttpDownloadLimits& limits, HttpDownloadReport* report) {
  if (!IsLoaded()) return 0;
  HttpEntry entry = interface_->entries[kHttpDownloadCheckedEntry];
  if (entry == nullptr) return 0;
  return reinterpret_cast<HttpDownloadCheckedFunction>(entry)(url.c_str(), destination.c_str(),
                                                              &limits, report);
}
