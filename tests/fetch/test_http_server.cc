#include "fetch/test_http_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace {

constexpr size_t kPieceSize = 256 * 1024;

void ServeWithLength(std::shared_ptr<const std::string> content, const std::string& type,
                     httplib::Response& res) {
  // Small bodies are copied; large ones are streamed from the shared copy.
  if (content->size() < kPieceSize) {
    res.set_content(*content, type);
    return;
  }
  res.set_content_provider(content->size(), type,
                           [content](size_t offset, size_t length, httplib::DataSink& sink) {
                             return sink.write(content->data() + offset,
                                               std::min(length, kPieceSize));
                           });
}

void ServeChunked(std::shared_ptr<const std::string> content, const std::string& type,
                  httplib::Response& res) {
  res.set_chunked_content_provider(type, [content](size_t offset, httplib::DataSink& sink) {
    if (offset >= content->size()) {
      sink.done();
      return true;
    }
    return sink.write(content->data() + offset, std::min(content->size() - offset, kPieceSize));
  });
}

int BoundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

int BindLoopback() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("cannot bind a loopback socket");
  }
  return fd;
}

}  // namespace

TestHttpServer::TestHttpServer(std::string address)
    : address_(std::move(address)), server_(std::make_unique<httplib::Server>()) {
  AddRoutes();
  // Recorded before the answer goes out, so a client that has its answer finds its request.
  server_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back({req.target, req.get_header_value("User-Agent")});
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server_->set_tcp_nodelay(true);
  port_ = server_->bind_to_any_port(address_);
  if (port_ <= 0) throw std::runtime_error("cannot bind the test server");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestHttpServer::~TestHttpServer() {
  stopping_ = true;
  server_->stop();
  thread_.join();
}

std::string TestHttpServer::Url(const std::string& target) const {
  return "http://" + address_ + ":" + std::to_string(port_) + target;
}

void TestHttpServer::AddFile(const std::string& name, std::string content,
                             std::string content_type) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool css = name.size() > 4 && name.compare(name.size() - 4, 4, ".css") == 0;
  if (content_type.empty()) content_type = css ? "text/css" : "application/octet-stream";
  files_[name] = {std::make_shared<const std::string>(std::move(content)), content_type};
}

std::vector<TestHttpServer::Seen> TestHttpServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

TestHttpServer::File TestHttpServer::FindFile(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = files_.find(name);
  return found == files_.end() ? File() : found->second;
}

void TestHttpServer::AddRoutes() {
  server_->Get(R"(/files/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
    File file = FindFile(req.matches[1]);
    if (!file.content) {
      res.status = 404;
      res.set_content("not found", "text/plain");
      return;
    }
    ServeWithLength(file.content, file.type, res);
  });
  server_->Get(R"(/hops/(\d+)/(.+))", [](const httplib::Request& req, httplib::Response& res) {
    int left = std::stoi(req.matches[1]);
    std::string name = req.matches[2];
    res.set_redirect(left > 1 ? "/hops/" + std::to_string(left - 1) + "/" + name
                              : "/files/" + name);
  });
  server_->Get("/away", [](const httplib::Request& req, httplib::Response& res) {
    res.set_redirect(req.get_param_value("to"));
  });
  server_->Get(R"(/chunked/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
    File file = FindFile(req.matches[1]);
    if (!file.content) {
      res.status = 404;
      return;
    }
    ServeChunked(file.content, file.type, res);
  });
  server_->Get(R"(/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
    res.status = std::stoi(req.matches[1]);
    res.set_content("error page for " + std::string(req.matches[1]), "text/html");
  });
  server_->Get(R"(/redirect/(.+))", [](const httplib::Request& req, httplib::Response& res) {
    res.set_redirect("/" + std::string(req.matches[1]));
  });
  server_->Get("/loop",
               [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
  server_->Get("/redirect-scheme", [](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("file:///etc/hostname");
  });
  server_->Get("/truncated", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(100000, "image/png",
                             [](size_t offset, size_t, httplib::DataSink& sink) {
                               if (offset >= 40000) return false;  // Drops the connection.
                               std::string piece(40000, 'x');
                               return sink.write(piece.data(), piece.size());
                             });
  });
  server_->Get("/truncated-chunked", [](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("image/png", [](size_t offset, httplib::DataSink& sink) {
      if (offset >= 2000) return false;
      std::string piece(1000, 'y');
      return sink.write(piece.data(), piece.size());
    });
  });
  server_->Get(R"(/slow/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
    int pause_ms = std::stoi(req.matches[1]) / 10;
    res.set_content_provider(10000, "application/octet-stream",
                             [this, pause_ms](size_t offset, size_t, httplib::DataSink& sink) {
                               for (int waited = 0; waited < pause_ms && !stopping_; waited += 10) {
                                 std::this_thread::sleep_for(std::chrono::milliseconds(10));
                               }
                               std::string piece(1000, static_cast<char>('a' + offset / 1000));
                               return sink.write(piece.data(), piece.size());
                             });
  });
}

int ClosedPort() {
  int fd = BindLoopback();
  int port = BoundPort(fd);
  close(fd);
  return port;
}

SilentServer::SilentServer() {
  fd_ = BindLoopback();
  if (listen(fd_, 16) != 0) throw std::runtime_error("cannot listen");
  port_ = BoundPort(fd_);
}

SilentServer::~SilentServer() { close(fd_); }

std::string SilentServer::Url(const std::string& target) const {
  return "http://127.0.0.1:" + std::to_string(port_) + target;
}
