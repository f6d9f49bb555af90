#ifndef ORVO_TESTS_INTEGRATION_SERVICE_FIXTURE_H_
#define ORVO_TESTS_INTEGRATION_SERVICE_FIXTURE_H_

// Runs the real service binary from a temporary folder of its own, with a freshly made
// certificate beside it, and talks to it over real TLS.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace httplib {
class SSLClient;
}
struct ssl_ctx_st;
struct ssl_st;

namespace service_test {

inline constexpr int kPort = 38951;

// One copy of the built service (with every component that lies beside it) in a fresh
// temporary folder, plus a certificate for localhost and an "allowed-origins" of "*" (every page
// served; tests of the user's consent remove it). The service's XDG_CONFIG_HOME is a folder of
// its own (config_folder()). The folder is removed on destruction, after the process has been
// stopped.
class ServiceProcess {
 public:
  enum class Certificate { kValid, kMissingKey, kMissingCertificate, kMismatchedKey };

  // subfolder: an optional folder name under the temporary folder to run from.
  explicit ServiceProcess(Certificate certificate = Certificate::kValid,
                          const std::string& subfolder = "");
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // The folder of the copied executable, with a trailing '/'.
  const std::string& folder() const { return folder_; }
  std::string certificate_path() const { return folder_ + "localhost.pem"; }
  std::string config_folder() const { return root_ + "/config"; }

  // Starts the service with its standard output going to a file. With wait_for_listener,
  // returns once the port accepts connections (true) or the process has exited (false).
  bool Start(bool wait_for_listener = true);

  // Gives the next Start this descriptor as the service's standard output instead of the log
  // file (Output() is then empty). The caller keeps it open until Start returns.
  void set_output(int fd) { output_fd_ = fd; }

  // Waits for the process to end; returns its exit code, or -1 on timeout or when killed.
  int WaitForExit(int timeout_ms);
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Everything the service wrote to standard output so far.
  std::string Output() const;

  // Output(), once it holds text or 10 s have passed: for lines the service writes after the
  // client has seen the end of its exchange.
  std::string OutputOnceItHas(const std::string& text) const;

  // The service's peak resident memory in KiB (VmHWM), -1 when unknown. ResetPeakMemory sets
  // the peak to what is resident now, so that one request's peak can be read.
  long PeakKilobytes() const;
  void ResetPeakMemory() const;

  // A client that verifies the service's certificate and host name.
  std::unique_ptr<httplib::SSLClient> Client() const;

 private:
  std::string root_;
  std::string folder_;
  pid_t pid_ = -1;
  int output_fd_ = -1;
};

// A test whose service is started before it runs and stopped (expecting exit code 0) after.
class RunningServiceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  ServiceProcess service_;
};

// Whether anything accepts TCP connections on localhost at the service's port.
bool PortAcceptsConnections();

// A raw TLS connection, for what a high-level client hides: header order on the wire,
// connection reuse and closing.
class RawTlsConnection {
 public:
  // min/max protocol versions as OpenSSL's TLS1_x_VERSION values (0: library default).
  RawTlsConnection(int min_version = 0, int max_version = 0);
  ~RawTlsConnection();
  RawTlsConnection(const RawTlsConnection&) = delete;
  RawTlsConnection& operator=(const RawTlsConnection&) = delete;

  // Connects to localhost at the service's port and completes the handshake.
  bool Connect();
  bool Send(const std::string& bytes);
  // Reads one whole response (head and Content-Length body); empty when the peer closed.
  std::string ReadResponse();

 private:
  int fd_ = -1;
  ssl_ctx_st* ctx_ = nullptr;
  ssl_st* ssl_ = nullptr;
  std::string pending_;
};

// Parts of a raw response.
struct RawResponse {
  int status = 0;
  std::string head;  // Status line and header lines, without the blank line.
  std::string body;
};
RawResponse SplitResponse(const std::string& raw);

// Header names of a raw response head, in the order they were written.
std::vector<std::string> HeaderNames(const std::string& head);

}  // namespace service_test

#endif  // ORVO_TESTS_INTEGRATION_SERVICE_FIXTURE_H_
