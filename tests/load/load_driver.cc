#include "load/load_driver.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "support/scratch_folder.h"

namespace load {
namespace {

// A 2x2 RGB PNG (red, green / blue, white).
const unsigned char kPng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x02, 0x00, 0x00, 0x00, 0xfd,
    0xd4, 0x9a, 0x73, 0x00, 0x00, 0x00, 0x12, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0xf8,
    0xcf, 0xc0, 0xc0, 0x00, 0xc2, 0x0c, 0xff, 0x81, 0x00, 0x00, 0x1f, 0xee, 0x05, 0xfb, 0xf1,
    0xab, 0xba, 0x77, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

// A 1x1 GIF, base64 "R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==".
const unsigned char kGif[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0x21, 0xf9, 0x04,
                              0x01, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x01,
                              0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3b};

// A saved page with one image found by its Content-ID, as a browser writes it. Its text is
// escaped for a JSON string.
constexpr char kArchive[] =
    "MIME-Version: 1.0\\r\\nContent-Type: multipart/related; type=\\\"text/html\\\"; "
    "boundary=\\\"B\\\"\\r\\n\\r\\n--B\\r\\nContent-Type: text/html; charset=\\\"utf-8\\\"\\r\\n"
    "Content-Location: http://example.test/page.html\\r\\n\\r\\n"
    "<html><body><img src=\\\"cid:img1@x\\\"></body></html>\\r\\n--B\\r\\n"
    "Content-Type: image/png; name=\\\"red.png\\\"\\r\\nContent-Transfer-Encoding: base64\\r\\n"
    "Content-ID: <img1@x>\\r\\n\\r\\n"
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAAAMBAQDJ/pLv\\r\\n"
    "AAAAAElFTkSuQmCC\\r\\n--B--\\r\\n";

// The domain every Content-ID the service makes ends with, after its random characters.
constexpr char kContentIdDomain[] = "@orvohttps.localhost";
constexpr size_t kContentIdRandomChars = 12;

enum class Kind { kVersion, kFiles, kHtmlFile, kCleanup, kArchiveDecode, kArchiveEncode };
constexpr Kind kMix[] = {Kind::kVersion, Kind::kFiles,         Kind::kHtmlFile,
                         Kind::kCleanup, Kind::kArchiveDecode, Kind::kArchiveEncode};
constexpr int kKinds = sizeof kMix / sizeof kMix[0];
constexpr size_t kMaxFailures = 10;

const char* CommandOf(Kind kind) {
  switch (kind) {
    case Kind::kVersion:
      return "cfp-1000";
    case Kind::kFiles:
      return "cfp-0040";
    case Kind::kHtmlFile:
      return "cfp-0060";
    case Kind::kCleanup:
      return "cfp-0030";
    case Kind::kArchiveDecode:
      return "cfp-0002";
    case Kind::kArchiveEncode:
      return "cfp-0001";
  }
  return "";
}

// The answer with every request folder's number made "*": each request has its own folder.
std::string WithoutFolderNumbers(std::string body) {
  const std::string root = "/TAVU/";
  for (size_t at = body.find(root); at != std::string::npos; at = body.find(root, at + 1)) {
    body.replace(at + root.size(), std::min<size_t>(8, body.size() - at - root.size()), "*");
  }
  return body;
}

// Content-IDs with their random characters made "*".
void HideContentIds(std::string& body) {
  const std::string domain = kContentIdDomain;
  for (size_t at = body.find(domain); at != std::string::npos; at = body.find(domain, at + 1)) {
    if (at < kContentIdRandomChars) continue;
    body.replace(at - kContentIdRandomChars, kContentIdRandomChars, "*");
    at -= kContentIdRandomChars - 1;
  }
}

// The parts' stored names, "YYYYMMDDhhmmsss_" and 8 random characters before the extension,
// made "*".
void HideStoredNames(std::string& body) {
  const std::string field = "Content-Location: ";
  constexpr size_t kStamp = 15, kName = kStamp + 1 + 8;
  for (size_t at = body.find(field); at != std::string::npos; at = body.find(field, at + 1)) {
    size_t name = at + field.size();
    if (body.size() - name < kName || body[name + kStamp] != '_') continue;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!std::all_of(body.begin() + name, body.begin() + name + kStamp, digit)) continue;
    body.replace(name, kName, "*");
  }
}

// The multipart boundary made "*" wherever it occurs.
void HideBoundary(std::string& body) {
  const std::string open = "boundary=\\\"";
  size_t begin = body.find(open);
  if (begin == std::string::npos) return;
  begin += open.size();
  size_t end = body.find("\\\"", begin);
  if (end == std::string::npos || end == begin) return;
  const std::string boundary = body.substr(begin, end - begin);
  for (size_t at = body.find(boundary); at != std::string::npos; at = body.find(boundary, at + 1))
    body.replace(at, boundary.size(), "*");
}

// An archive answer with what each encode draws at random made "*": the Content-IDs, the
// parts' stored names and the boundary. Everything else (the page, the parts' headers and
// bytes, their order) must stay as it was.
std::string WithoutRandomParts(std::string body) {
  HideContentIds(body);
  HideStoredNames(body);
  HideBoundary(body);
  return body;
}

// Counts the occurrences of part in text.
int Occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::string Envelope(const std::string& cmd, const std::string& pdu) {
  return "{\"cmd\":\"" + cmd + "\",\"session\":\"load\",\"pdu\":" + pdu + "}";
}

class Run {
 public:
  explicit Run(const LoadOptions& options)
      : options_(options), deadline_(std::chrono::steady_clock::now() + options.time_limit) {}

  void Client(int client) {
    httplib::SSLClient connection("localhost", 38951);
    connection.set_ca_cert_path(options_.ca_path.c_str());
    connection.enable_server_certificate_verification(true);
    connection.set_keep_alive(true);
    connection.set_tcp_nodelay(true);  // else each request waits ~40 ms for a delayed ACK
    connection.set_connection_timeout(5);
    connection.set_read_timeout(30);
    for (int i = client; i < options_.requests; i += options_.clients) {
      if (std::chrono::steady_clock::now() > deadline_) {
        Fail("not sent within the time limit");
        continue;
      }
      One(connection, kMix[i % kKinds], client, i);
    }
  }

  LoadResult Result() {
    std::sort(result_.latencies_ms.begin(), result_.latencies_ms.end());
    return result_;
  }

 private:
  void One(httplib::SSLClient& connection, Kind kind, int client, int index) {
    std::string out = options_.work_folder + "/out-" + std::to_string(index) + ".html";
    std::string html = "<p>request " + std::to_string(index) + "</p>";
    std::string pdu;
    switch (kind) {
      case Kind::kVersion:
        pdu = "{}";
        break;
      case Kind::kFiles:
        pdu = "{\"files\":[{\"filepath\":\"" + options_.work_folder +
              "/image.png\"},{\"filepath\":\"" + options_.work_folder + "/notes.txt\"}]}";
        break;
      case Kind::kHtmlFile:
        pdu = "{\"html\":\"" + html + "\",\"filefullpath\":\"" + out + "\"}";
        break;
      case Kind::kCleanup:
        pdu = "{}";
        break;
      case Kind::kArchiveDecode:
        pdu = std::string("{\"mimevalue\":\"") + kArchive + "\"}";
        break;
      case Kind::kArchiveEncode:
        // 8bit keeps the page readable in the archive, so its references can be compared.
        pdu = "{\"html\":\"" + EncodedPage() + "\",\"mimeoptions\":{\"mimeencodetype\":1}}";
        break;
    }
    auto start = std::chrono::steady_clock::now();
    auto res = connection.Post("/", Envelope(CommandOf(kind), pdu), "text/plain");
    double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!res)
      return Fail(std::string(CommandOf(kind)) + ": no answer (" + httplib::to_string(res.error()) +
                  ")");
    if (res->status != 200)
      return Fail(std::string(CommandOf(kind)) + ": status " + std::to_string(res->status));
    std::string body = WithoutFolderNumbers(res->body);
    if (kind == Kind::kArchiveEncode) body = WithoutRandomParts(body);
    if (!MatchesReference(kind, body))
      return Fail(std::string(CommandOf(kind)) + ": answer differs: " + res->body.substr(0, 200));
    if (kind == Kind::kHtmlFile) {
      bool written = scratch::ReadFile(out) == html;
      std::remove(out.c_str());
      if (!written) return Fail("cfp-0060: file not written as sent: " + out);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++result_.answered;
    ++result_.by_command[CommandOf(kind)];
    result_.latencies_ms.push_back(ms);
  }

  // The first answer of a kind must make sense by itself; later ones must equal it.
  bool MatchesReference(Kind kind, const std::string& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string& reference = references_[kind];
    if (reference.empty()) {
      if (!Sensible(kind, body)) return false;
      reference = body;
      return true;
    }
    return body == reference;
  }

  // A page with two local pictures and a reference to a file that does not exist.
  std::string EncodedPage() const {
    const std::string& folder = options_.work_folder;
    return "<p>saved<img src=\\\"" + folder + "/image.png\\\"><img src=\\\"" + folder +
           "/dot.gif\\\"><img src=\\\"" + folder + "/missing.png\\\"></p>";
  }

  bool Sensible(Kind kind, const std::string& body) const {
    auto contains = [&](const std::string& part) { return body.find(part) != std::string::npos; };
    switch (kind) {
      case Kind::kVersion:
        return contains("\"error\":-1,\"pdu\":{\"version\":\"");
      case Kind::kFiles:
        // The image is carried, the text file is listed without content.
        return contains("\"base64string\":\"iVBORw0KGgo") &&
               body.find("base64string") == body.rfind("base64string") && contains("notes.txt");
      case Kind::kHtmlFile:
        return body == "{\"cmd\":\"cfp-0060\",\"error\":0,\"pdu\":null,\"session\":\"load\"}\n";
      case Kind::kCleanup:
        return body.empty();
      case Kind::kArchiveDecode:
        // The page, its image reference rewritten to the unpacked file, and that file.
        return contains("\"error\":0,") && contains("<img src=\\\"red.png\\\">") &&
               contains("\"base64string\":\"iVBORw0KGgo") && contains("/TAVU/*/red.png");
      case Kind::kArchiveEncode:
        return SensibleArchive(body);
    }
    return false;
  }

  // Both pictures carried whole under their own Content-IDs and stored names, the page referring to
  // them by those, the missing file's reference left as the page wrote it.
  bool SensibleArchive(const std::string& body) const {
    auto contains = [&](const std::string& part) { return body.find(part) != std::string::npos; };
    const std::string cid = std::string("*") + kContentIdDomain;
    return contains("\"error\":0,") && contains("Content-Type: multipart/related") &&
           Occurrences(body, "Content-ID: <" + cid + ">") == 2 &&
           contains("Content-Location: *.png\\r\\n") && contains("Content-Location: *.gif\\r\\n") &&
           Occurrences(body, "<img src=\\\"cid:" + cid + "\\\">") == 2 &&
           contains("<img src=\\\"" + options_.work_folder + "/missing.png\\\">") &&
           contains(
               "iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAEklEQVR42mP4z8DAAMIM/4EAAB/u"
               "\\r\\nBfvxq7p3AAAAAElFTkSuQmCC") &&
           contains("R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==");
  }

  void Fail(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++result_.failed;
    if (result_.failures.size() < kMaxFailures) result_.failures.push_back(what);
  }

  const LoadOptions& options_;
  const std::chrono::steady_clock::time_point deadline_;
  std::mutex mutex_;
  std::map<Kind, std::string> references_;
  LoadResult result_;
};

}  // namespace

double LoadResult::Percentile(double p) const {
  if (latencies_ms.empty()) return 0;
  size_t at = static_cast<size_t>(p / 100.0 * static_cast<double>(latencies_ms.size() - 1));
  return latencies_ms[at];
}

bool PrepareFiles(const LoadOptions& options) {
  std::string png(reinterpret_cast<const char*>(kPng), sizeof kPng);
  scratch::WriteFile(options.work_folder + "/image.png", png);
  scratch::WriteFile(options.work_folder + "/notes.txt", "not an image\n");
  scratch::WriteFile(options.work_folder + "/dot.gif",
                     std::string(reinterpret_cast<const char*>(kGif), sizeof kGif));
  return scratch::ReadFile(options.work_folder + "/image.png") == png;
}

LoadResult RunLoad(const LoadOptions& options) {
  Run run(options);
  auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> clients;
  for (int c = 0; c < options.clients; ++c) clients.emplace_back([&run, c] { run.Client(c); });
  for (auto& client : clients) client.join();
  LoadResult result = run.Result();
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

long ResidentKb(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace load
