#ifndef ORVO_SERVICE_ENDPOINT_H_
#define ORVO_SERVICE_ENDPOINT_H_

#include <string>

// The service's one door: HTTPS on "localhost", this port.
inline constexpr int kServicePort = 38951;

// Makes the TLS server from the certificate chain and private key files (PEM), registers the
// routes, prints "listen port [38951]\n" and serves on the calling thread until GET "/stop"
// closes the listening socket. Returns at once when a file cannot be loaded or the port cannot
// be bound (another instance holds it). Requests run concurrently on the library's pool.
// allowlist_path names the optional list of page origins that may call the service (see
// OriginAllowlist); without that file every origin may, which is said in one log line first.
void RunEndpoint(const std::string& cert_path, const std::string& key_path,
                 const std::string& allowlist_path);

#endif  // ORVO_SERVICE_ENDPOINT_H_
