#include "curl_download.h"

#include <curl/curl.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>

#include "platform/write_all.h"

namespace orvohttp8 {
namespace {

// Large receive buffers halve the number of write calls on fast links (curl's default is 16 KB).
constexpr long kReceiveBufferSize = 256 * 1024;

std::atomic<unsigned> g_temp_counter{0};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// A file beside the destination that the transfer writes into. Removed on destruction unless
// it was renamed over the destination.
class TempFile {
 public:
  explicit TempFile(const std::string& destination) {
    size_t slash = destination.rfind('/');
    std::string folder =
        slash == std::string::npos ? std::string() : destination.substr(0, slash + 1);
    // O_EXCL makes the name ours alone; a name taken by another thread or process is skipped.
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      char name[64];
      std::snprintf(name, sizeof name, ".orvohttp8-%ld-%u.part", static_cast<long>(getpid()),
                    g_temp_counter.fetch_add(1));
      path_ = folder + name;
      fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ < 0 && errno != EEXIST) break;
    }
    on_disk_ = fd_ >= 0;
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (on_disk_) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool is_open() const { return fd_ >= 0; }

  // Appends data; false on a write error or when the body would pass max_bytes.
  bool Write(const char* data, size_t size) {
    if (static_cast<uint64_t>(size) > static_cast<uint64_t>(max_bytes_ - written_)) {
      too_large_ = true;
      return false;
    }
    written_ += static_cast<int64_t>(size);
    return WriteAll(fd_, std::string_view(data, size));
  }

  // Drops what was written (the body of a redirect answer); the count of bytes stays, as the
  // limit is on what the transfer received.
  bool Rewind() { return ::ftruncate(fd_, 0) == 0 && ::lseek(fd_, 0, SEEK_SET) == 0; }

  void set_max_bytes(int64_t max_bytes) { max_bytes_ = max_bytes; }
  int64_t written() const { return written_; }
  bool too_large() const { return too_large_; }

  // Closes the file (a late write error shows here) and renames it to destination.
  bool CommitAs(const std::string& destination) {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return false;
    if (::rename(path_.c_str(), destination.c_str()) != 0) return false;
    on_disk_ = false;
    return true;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool on_disk_ = false;
  int64_t max_bytes_ = INT64_MAX;
  int64_t written_ = 0;
  bool too_large_ = false;
};

bool RewindFile(void* context) { return static_cast<TempFile*>(context)->Rewind(); }

size_t WriteBody(char* data, size_t size, size_t count, void* context) {
  auto* file = static_cast<TempFile*>(context);
  // Returning less than handed over makes curl stop with CURLE_WRITE_ERROR.
  return file->Write(data, size * count) ? size * count : 0;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};

void Configure(CURL* easy, const DownloadSettings& settings, TempFile* file) {
  curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
  // Signals cannot be used for timeouts in a multi-threaded host.
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, settings.user_agent.c_str());
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  // A body announced larger than the limit is refused before it is read.
  curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(settings.max_bytes));
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, file);
}

}  // namespace

bool HasHttpScheme(std::string_view url) {
  return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
}

std::string WireUrl(std::string_view url) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  url = url.substr(0, url.find('#'));
  std::string out;
  out.reserve(url.size());
  for (char c : url) {
    auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0x0F]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

DownloadResult DownloadToFile(const std::string& url, const std::string& destination,
                              const DownloadSettings& settings) {
  DownloadResult result;
  if (!HasHttpScheme(url) || destination.empty() || settings.max_bytes < 0) return result;
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) return result;
  TempFile file(destination);
  if (!file.is_open()) return result;
  file.set_max_bytes(settings.max_bytes);
  Configure(easy.get(), settings, &file);
  TransferRules rules;
  rules.classify = settings.classify;
  rules.deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(settings.timeout_ms);
  result.transfer = PerformUnderRules(easy.get(), WireUrl(url), rules, RewindFile, &file);
  result.bytes = file.written();
  result.too_large = file.too_large() || result.transfer == TransferResult::kTooLarge;
  const char* content_type = nullptr;
  curl_easy_getinfo(easy.get(), CURLINFO_CONTENT_TYPE, &content_type);
  if (content_type != nullptr) result.content_type = content_type;
  if (result.ok() && !file.CommitAs(destination)) result.transfer = TransferResult::kFailed;
  return result;
}

}  // namespace orvohttp8
