#ifndef ORVO_SERVICE_ENDPOINT_H_
#define ORVO_SERVICE_ENDPOINT_H_

#include <string>

// The service's one door: HTTPS on "localhost", this port.
inline constexpr int kServicePort = 38951;

class OriginConsent;

// Makes the TLS server from the certificate chain and private key files (PEM), registers the
// routes, prints "listen port [38951]\n" and serves on the calling thread until GET "/stop",
// SIGTERM or SIGINT closes the listening socket. Returns at once when a file cannot be loaded or
// the port cannot be bound (another instance holds it). Requests run concurrently, each
// connection on a thread of its own. consent decides which web pages may call the service; its
// rule is said in one log line first.
void RunEndpoint(const std::string& cert_path, const std::string& key_path, OriginConsent& consent);

#endif  // ORVO_SERVICE_ENDPOINT_H_
