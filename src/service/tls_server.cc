#include "service/tls_server.h"

#include <openssl/bio.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <chrono>
#include <climits>

#include "platform/network.h"
#include "service/connection_threads.h"

namespace {

using Clock = std::chrono::steady_clock;

// A request's reads and writes, and the handshake, each wait at most this long.
constexpr std::chrono::seconds kTransferTimeout{5};
// A kept-alive connection notices a stopping server within this time.
constexpr std::chrono::milliseconds kStopCheckInterval{100};
// Threads for connections at once: far above what a browser opens to one host (six), so that
// requests waiting on programs, downloads or the user's answer leave room for short ones.
constexpr size_t kConnectionThreadLimit = 64;
// What one read from the socket may fetch of the records that have arrived.
constexpr size_t kReadAheadBytes = size_t{256} << 10;
// How much of an answer's records go out in one send: a few answer blocks' worth.
constexpr int kWriteBufferBytes = 512 << 10;

// One TLS connection as the library's request reader and answer writer see it.
class TlsStream : public httplib::Stream {
 public:
  TlsStream(SSL* ssl, int socket) : ssl_(ssl), socket_(socket) {}

  bool is_readable() const override {
    return SSL_has_pending(ssl_) == 1 || WaitForReadable(socket_, kTransferTimeout);
  }
  // Writes block at most kTransferTimeout (the socket's own limit) and then fail.
  bool is_writable() const override { return true; }

  ssize_t read(char* ptr, size_t size) override {
    return SSL_read(ssl_, ptr, static_cast<int>(std::min<size_t>(size, INT_MAX)));
  }
  ssize_t write(const char* ptr, size_t size) override {
    int written = SSL_write(ssl_, ptr, static_cast<int>(std::min<size_t>(size, INT_MAX)));
    if (written <= 0 || BIO_flush(SSL_get_wbio(ssl_)) != 1) return -1;
    return written;
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ConnectionAddress(socket_, ConnectionEnd::kPeer, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ConnectionAddress(socket_, ConnectionEnd::kLocal, ip, port);
  }
  socket_t socket() const override { return socket_; }

 private:
  SSL* ssl_;
  int socket_;
};

// Reads go to the socket itself; writes gather in a buffer in front of it, flushed after each
// write of the library (and by TLS itself after each handshake message and alert), so that a
// large answer leaves in sends of many records instead of a send per 16 KB record.
bool AttachSocket(SSL* ssl, int socket) {
  BIO* reads = BIO_new_socket(socket, BIO_NOCLOSE);
  BIO* writes = BIO_new(BIO_f_buffer());
  if (reads == nullptr || writes == nullptr ||
      BIO_set_write_buffer_size(writes, kWriteBufferBytes) != 1) {
    BIO_free(reads);
    BIO_free(writes);
    return false;
  }
  BIO_up_ref(reads);  // one reference for each direction: SSL_free lets both go
  SSL_set_bio(ssl, reads, BIO_push(writes, reads));
  return true;
}

thread_local httplib::Stream* served_connection = nullptr;

// Names the connection this thread serves for as long as it serves it.
class ServedScope {
 public:
  explicit ServedScope(httplib::Stream& stream) { served_connection = &stream; }
  ~ServedScope() { served_connection = nullptr; }
  ServedScope(const ServedScope&) = delete;
  ServedScope& operator=(const ServedScope&) = delete;
};

}  // namespace

httplib::Stream* TlsServer::ServedConnection() { return served_connection; }

TlsServer::TlsServer(const ContextSetup& setup) {
  context_ = SSL_CTX_new(TLS_server_method());
  if (context_ != nullptr && !setup(*context_)) {
    SSL_CTX_free(context_);
    context_ = nullptr;
  }
  if (context_ != nullptr) {
    // Records are fetched from the socket as many at a time as have arrived, instead of each
    // with two reads (its header, then the rest): a large body is then read with a system call
    // every few records.
    SSL_CTX_set_read_ahead(context_, 1);
    SSL_CTX_set_default_read_buffer_len(context_, kReadAheadBytes);
  }
  new_task_queue = [] { return new ConnectionThreads(kConnectionThreadLimit); };
}

TlsServer::~TlsServer() { SSL_CTX_free(context_); }

bool TlsServer::is_valid() const { return context_ != nullptr; }

bool TlsServer::process_and_close_socket(socket_t sock) {
  bool served = false;
  if (!admission_ || admission_(sock)) {
    SetConnectionTimeouts(sock, kTransferTimeout);
    SSL* ssl = SSL_new(context_);
    if (ssl != nullptr && AttachSocket(ssl, sock) && SSL_accept(ssl) == 1) {
      served = ServeRequests(ssl, sock);
      SSL_shutdown(ssl);
    }
    SSL_free(ssl);
  }
  CloseConnection(sock);
  return served;
}

bool TlsServer::ServeRequests(SSL* ssl, socket_t sock) {
  TlsStream stream(ssl, sock);
  ServedScope scope(stream);
  bool served = false;
  for (size_t left = keep_alive_max_count_; left > 0 && NextRequestArrives(ssl, sock); --left) {
    bool closed = false;
    served = process_request(stream, left == 1, closed, request_setup_);
    if (!served || closed) break;
  }
  return served;
}

// Bytes already fetched from the socket count as an arrival, decrypted or not: the socket alone
// would not show them.
bool TlsServer::NextRequestArrives(SSL* ssl, socket_t sock) const {
  auto deadline = Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
  while (svr_sock_ != INVALID_SOCKET) {
    if (SSL_has_pending(ssl) == 1) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    if (WaitForReadable(sock, std::min(left, kStopCheckInterval))) return true;
  }
  return false;
}
