#ifndef ORVO_SERVICE_TLS_SERVER_H_
#define ORVO_SERVICE_TLS_SERVER_H_

#include <httplib.h>

#include <functional>

// The HTTP library's server, run over a TLS connection loop of our own.
//
// The library's own TLS server looks for the next request of a kept-alive connection on the
// socket alone: a request already decrypted into the TLS buffer (two requests sent in one
// write) is never seen, and the connection is dropped once the keep-alive time has run out.
// This loop looks at the TLS buffer first, so pipelined requests are answered in order. It also
// hands each request to a set-up step while its head is read and its body is not, the one point
// where the library lets its owner change a request, and it serves every connection on a
// thread of its own (see ConnectionThreads), so that long requests never keep short ones
// waiting.
class TlsServer : public httplib::Server {
 public:
  using ContextSetup = std::function<bool(SSL_CTX&)>;
  using Admission = std::function<bool(int socket)>;
  using RequestSetup = std::function<void(httplib::Request&)>;

  // setup configures the TLS context (certificate, key, versions); when it fails the server
  // is invalid and never listens.
  explicit TlsServer(const ContextSetup& setup);
  ~TlsServer() override;
  TlsServer(const TlsServer&) = delete;
  TlsServer& operator=(const TlsServer&) = delete;

  bool is_valid() const override;

  // Decides, before the TLS handshake, whether an accepted connection is served at all; a
  // refused one is closed at once. Set before listening.
  void set_admission(Admission admission) { admission_ = std::move(admission); }

  // Runs on the connection's thread for every request whose head has been read, before its
  // body is read and before it is routed. Set before listening.
  void set_request_setup(RequestSetup setup) { request_setup_ = std::move(setup); }

  // The connection whose request the calling thread is serving, for a route that reads the
  // body itself in pieces far larger than the library's own reads; null on any other thread.
  // Only the bytes of the request's body may be read from it, and only before the route ends.
  static httplib::Stream* ServedConnection();

 private:
  bool process_and_close_socket(socket_t sock) override;
  bool ServeRequests(SSL* ssl, socket_t sock);
  bool NextRequestArrives(SSL* ssl, socket_t sock) const;

  SSL_CTX* context_ = nullptr;
  Admission admission_;
  RequestSetup request_setup_;
};

#endif  // ORVO_SERVICE_TLS_SERVER_H_
