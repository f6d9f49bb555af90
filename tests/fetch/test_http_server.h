#ifndef ORVO_TESTS_FETCH_TEST_HTTP_SERVER_H_
#define ORVO_TESTS_FETCH_TEST_HTTP_SERVER_H_

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

// A plain HTTP server on a loopback address (127.0.0.1 unless given) and a free port, running
// on its own thread for the lifetime of the object. Routes:
//   /files/NAME          the bytes added with AddFile(NAME) (NAME as decoded from the path),
//                        with a Content-Length and AddFile's Content-Type; 404 for any other
//                        name
//   /hops/N/NAME         N redirects (each to /hops/N-1/NAME), then /files/NAME
//   /away?to=URL         a 302 to URL
//   /chunked/NAME        the same bytes, chunked (no Content-Length)
//   /status/CODE         that status with a short error page
//   /redirect/files/NAME a 302 to /files/NAME;  /loop  a 302 to itself
//   /redirect-scheme     a 302 to file:///etc/hostname
//   /truncated           announces 100000 bytes, sends 40000 and closes
//   /truncated-chunked   sends two chunks and closes without the last chunk
//   /slow/MS             10 pieces of 1000 bytes, MS / 10 milliseconds apart (Content-Length set)
// Every request's raw target and User-Agent are recorded.
class TestHttpServer {
 public:
  explicit TestHttpServer(std::string address = "127.0.0.1");
  ~TestHttpServer();

  int port() const { return port_; }
  // "http://ADDRESS:PORT" + target.
  std::string Url(const std::string& target) const;

  // content_type empty: text/css for ".css", else application/octet-stream.
  void AddFile(const std::string& name, std::string content, std::string content_type = "");

  struct Seen {
    std::string target;
    std::string user_agent;
  };
  std::vector<Seen> requests() const;

 private:
  void AddRoutes();
  struct File {
    std::shared_ptr<const std::string> content;
    std::string type;
  };
  File FindFile(const std::string& name) const;

  std::string address_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::map<std::string, File> files_;
  std::vector<Seen> requests_;
};

// A port on 127.0.0.1 on which nothing listens: connections are refused.
int ClosedPort();

// A socket on 127.0.0.1 that listens and never accepts: connections complete in the kernel's
// backlog, requests are never answered.
class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  int port() const { return port_; }
  std::string Url(const std::string& target) const;

 private:
  int fd_ = -1;
  int port_ = 0;
};

#endif  // ORVO_TESTS_FETCH_TEST_HTTP_SERVER_H_
