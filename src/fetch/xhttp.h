#ifndef ORVO_FETCH_XHTTP_H_
#define ORVO_FETCH_XHTTP_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class DynamicLibrary;
struct HttpDownloadLimits;
struct HttpDownloadReport;
struct HttpInterface;

// The download library "orvohttp8.so", loaded for one download. One object per download; the
// library is unloaded when the object is destroyed. Several objects may hold the library at the
// same time on different threads.
class XHttp {
 public:
  // The library beside the running executable.
  XHttp();
  // The library in library_folder, which ends in '/'.
  explicit XHttp(std::string library_folder);
  virtual ~XHttp();
  XHttp(const XHttp&) = delete;
  XHttp& operator=(const XHttp&) = delete;

  // Loads the library on the first call: it must load, export "GetHttpInterface" that fills the
  // table (non-zero result) and export "SetUserAgent"; otherwise it is unloaded again and this
  // object stays unloaded (a later call tries again). A loaded object answers true at once.
  // Thread-safe.
  bool Load();
  bool IsLoaded() const;

  // The library's entries; each answers 0 while the library is not loaded.
  int32_t SetTimeout(int32_t milliseconds);
  int32_t SetUserAgent(const std::string& agent);
  int32_t Download(const std::string& url, const std::string& destination);
  int32_t DownloadChecked(const std::string& url, const std::string& destination,
                          const HttpDownloadLimits& limits, HttpDownloadReport* report);

  static constexpr char kLibraryFileName[] = "orvohttp8.so";

 private:
  std::string library_folder_;
  mutable std::mutex mutex_;
  std::unique_ptr<DynamicLibrary> module_;
  std::unique_ptr<HttpInterface> interface_;
  void* set_user_agent_ = nullptr;
};

#endif  // ORVO_FETCH_XHTTP_H_
