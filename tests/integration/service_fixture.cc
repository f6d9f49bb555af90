#include "integration/service_fixture.h"

#include <fcntl.h>
#include <httplib.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

extern char** environ;

namespace service_test {
namespace fs = std::filesystem;

namespace {

// One certificate (and one unrelated key) per test program: key generation is slow.
const std::string& CertificateCache() {
  static std::string folder;
  static std::once_flag once;
  std::call_once(once, [] {
    char pattern[] = "/tmp/orvo-cert-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    folder = pattern;
    std::string script = std::string(ORVO_SOURCE_DIR) + "/scripts/make-dev-cert";
    std::string other = folder + "/other";
    std::string command = "'" + script + "' '" + folder + "' >/dev/null && '" + script + "' '" +
                          other + "' >/dev/null";
    if (std::system(command.c_str()) != 0) folder.clear();
  });
  return folder;
}

void CopyFile(const fs::path& from, const fs::path& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::status(from).permissions());
}

}  // namespace

ServiceProcess::ServiceProcess(Certificate certificate, const std::string& subfolder) {
  char pattern[] = "/tmp/orvo-service-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return;
  root_ = pattern;
  folder_ = root_ + "/";
  if (!subfolder.empty()) {
    folder_ += subfolder + "/";
    fs::create_directories(folder_);
  }
  fs::path dist(ORVO_DIST_DIR);
  for (const auto& entry : fs::directory_iterator(dist)) {
    std::string name = entry.path().filename();
    if (name == "orvohttps" || entry.path().extension() == ".so") {
      CopyFile(entry.path(), folder_ + name);
    }
  }
  std::ofstream(folder_ + "allowed-origins") << "*\n";
  const std::string& certs = CertificateCache();
  if (certificate != Certificate::kMissingCertificate) {
    CopyFile(certs + "/localhost.pem", folder_ + "localhost.pem");
  }
  if (certificate == Certificate::kValid) {
    CopyFile(certs + "/localhost-key.pem", folder_ + "localhost-key.pem");
  } else if (certificate == Certificate::kMismatchedKey) {
    CopyFile(certs + "/other/localhost-key.pem", folder_ + "localhost-key.pem");
  }
}

ServiceProcess::~ServiceProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (!root_.empty()) {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
}

bool ServiceProcess::Start(bool wait_for_listener) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  std::string log = folder_ + "stdout.log";
  if (output_fd_ >= 0) {
    posix_spawn_file_actions_adddup2(&actions, output_fd_, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  std::string executable = folder_ + "orvohttps";
  char* argv[] = {executable.data(), nullptr};
  std::vector<std::string> variables = {"XDG_CONFIG_HOME=" + config_folder()};
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (std::string(*variable).rfind("XDG_CONFIG_HOME=", 0) != 0) variables.push_back(*variable);
  }
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  int rc = posix_spawn(&pid_, executable.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    return false;
  }
  if (!wait_for_listener) return true;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    if (PortAcceptsConnections()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

int ServiceProcess::WaitForExit(int timeout_ms) {
  if (pid_ <= 0) return -1;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

std::string ServiceProcess::Output() const {
  std::ifstream in(folder_ + "stdout.log", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ServiceProcess::OutputOnceItHas(const std::string& text) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::string output = Output();
  while (output.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    output = Output();
  }
  return output;
}

long ServiceProcess::PeakKilobytes() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

void ServiceProcess::ResetPeakMemory() const {
  std::ofstream("/proc/" + std::to_string(pid_) + "/clear_refs") << "5";
}

std::unique_ptr<httplib::SSLClient> ServiceProcess::Client() const {
  auto client = std::make_unique<httplib::SSLClient>("localhost", kPort);
  client->set_ca_cert_path(certificate_path().c_str());
  client->enable_server_certificate_verification(true);
  client->set_connection_timeout(5);
  client->set_read_timeout(30);
  return client;
}

void RunningServiceTest::SetUp() { ASSERT_TRUE(service_.Start()) << service_.Output(); }

void RunningServiceTest::TearDown() {
  if (!service_.running()) return;
  service_.Client()->Get("/stop");
  EXPECT_EQ(service_.WaitForExit(10000), 0);
}

namespace {

// Connects a TCP socket to localhost at the service's port; -1 when nothing accepts.
int ConnectLocalhost() {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (getaddrinfo("localhost", std::to_string(kPort).c_str(), &hints, &results) != 0) return -1;
  int fd = -1;
  for (addrinfo* ai = results; ai != nullptr && fd < 0; ai = ai->ai_next) {
    fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    if (connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(results);
  return fd;
}

}  // namespace

bool PortAcceptsConnections() {
  int fd = ConnectLocalhost();
  if (fd < 0) return false;
  close(fd);
  return true;
}

RawTlsConnection::RawTlsConnection(int min_version, int max_version) {
  ctx_ = SSL_CTX_new(TLS_client_method());
  // Old protocol versions are only offered when the security level allows them.
  if (max_version != 0 && max_version < TLS1_2_VERSION) SSL_CTX_set_security_level(ctx_, 0);
  if (min_version != 0) SSL_CTX_set_min_proto_version(ctx_, min_version);
  if (max_version != 0) SSL_CTX_set_max_proto_version(ctx_, max_version);
}

RawTlsConnection::~RawTlsConnection() {
  if (ssl_ != nullptr) SSL_free(ssl_);
  if (fd_ >= 0) close(fd_);
  SSL_CTX_free(ctx_);
}

bool RawTlsConnection::Connect() {
  fd_ = ConnectLocalhost();
  if (fd_ < 0) return false;
  timeval timeout{10, 0};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ssl_ = SSL_new(ctx_);
  SSL_set_fd(ssl_, fd_);
  SSL_set_tlsext_host_name(ssl_, "localhost");
  bool ok = SSL_connect(ssl_) == 1;
  ERR_clear_error();
  return ok;
}

bool RawTlsConnection::Send(const std::string& bytes) {
  return SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) ==
         static_cast<int>(bytes.size());
}

std::string RawTlsConnection::ReadResponse() {
  auto fill = [&]() {
    char buffer[16384];
    int n = SSL_read(ssl_, buffer, sizeof buffer);
    if (n <= 0) return false;
    pending_.append(buffer, static_cast<size_t>(n));
    return true;
  };
  size_t head_end;
  while ((head_end = pending_.find("\r\n\r\n")) == std::string::npos) {
    if (!fill()) return {};
  }
  size_t length = 0;
  RawResponse parts = SplitResponse(pending_.substr(0, head_end + 4));
  std::istringstream lines(parts.head);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Content-Length: ", 0) == 0) length = std::stoul(line.substr(16));
  }
  size_t total = head_end + 4 + length;
  while (pending_.size() < total) {
    if (!fill()) return {};
  }
  std::string response = pending_.substr(0, total);
  pending_.erase(0, total);
  return response;
}

RawResponse SplitResponse(const std::string& raw) {
  RawResponse response;
  size_t head_end = raw.find("\r\n\r\n");
  if (head_end == std::string::npos) return response;
  response.head = raw.substr(0, head_end);
  response.body = raw.substr(head_end + 4);
  if (raw.rfind("HTTP/1.1 ", 0) == 0) response.status = std::atoi(raw.c_str() + 9);
  return response;
}

std::vector<std::string> HeaderNames(const std::string& head) {
  std::vector<std::string> names;
  size_t line_start = head.find("\r\n");
  while (line_start != std::string::npos) {
    line_start += 2;
    size_t colon = head.find(':', line_start);
    if (colon == std::string::npos) break;
    names.push_back(head.substr(line_start, colon - line_start));
    line_start = head.find("\r\n", colon);
  }
  return names;
}

}  // namespace service_test
