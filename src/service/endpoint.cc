#include "service/endpoint.h"

#include <httplib.h>
#include <openssl/ssl.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/log.h"
#include "platform/network.h"
#include "platform/peer_user.h"
#include "platform/stop_signals.h"
#include "protocol/answer_files.h"
#include "protocol/command_request.h"
#include "protocol/command_table.h"
#include "service/answer_body.h"
#include "service/origin_consent.h"
#include "service/request_guard.h"
#include "service/tls_server.h"
#include "word/run_and_wait.h"

namespace {

constexpr char kHostName[] = "localhost";
constexpr char kAnswerType[] = "text/plain;charset=UTF-8";
constexpr char kTls13Suites[] =
    "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";

// The key files carry no pass phrase: never prompt on a terminal for one.
int RefusePassPhrase(char*, int, int, void*) { return 0; }

// Only the desktop user's own programs are served: a connection from another account on this
// machine is cut off when its first TLS message arrives, before anything is sent back. The HTTP
// library offers no hook at accept; this is the first moment its socket is handed to our code.
int ServeOnlyOurUser(SSL* ssl, int* alert, void*) {
  PeerUser peer;
  int socket = SSL_get_fd(ssl);
  if (PeerIsProcessUser(socket, &peer)) return SSL_CLIENT_HELLO_SUCCESS;
  if (peer.found) {
    Log("refused connection [%s] of user %u\n", peer.peer.c_str(), peer.uid);
  } else {
    Log("refused connection [%s] of an unknown user\n", peer.peer.c_str());
  }
  ShutDownConnection(socket);  // not even an alert goes back
  *alert = SSL_AD_ACCESS_DENIED;
  return SSL_CLIENT_HELLO_ERROR;
}

bool SetUpTls(SSL_CTX& ctx, const std::string& cert_path, const std::string& key_path) {
  SSL_CTX_set_client_hello_cb(&ctx, ServeOnlyOurUser, nullptr);
  SSL_CTX_set_options(&ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION);
  // TLS 1.0 and 1.1 are broken and refused by current browsers anyway.
  SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION);
  // The same suites as the library's default, AES-128-GCM first and chosen by this end: with
  // the processor's AES instructions it moves large bodies a quarter faster than AES-256, and
  // the peer is a program on this machine.
  SSL_CTX_set_ciphersuites(&ctx, kTls13Suites);
  SSL_CTX_set_options(&ctx, SSL_OP_CIPHER_SERVER_PREFERENCE);
  SSL_CTX_set_default_passwd_cb(&ctx, RefusePassPhrase);
  return SSL_CTX_use_certificate_chain_file(&ctx, cert_path.c_str()) == 1 &&
         SSL_CTX_use_PrivateKey_file(&ctx, key_path.c_str(), SSL_FILETYPE_PEM) == 1 &&
         SSL_CTX_check_private_key(&ctx) == 1;
}

void SetCrossOriginHeaders(const httplib::Request& req, httplib::Response& res) {
  std::string origin = req.get_header_value("origin");
  res.set_header("Access-Control-Allow-Methods", "GET,POST,OPTIONS");
  res.set_header("Access-Control-Allow-Private-Network", "true");
  // Without an Origin the caller is no page (curl, a script): an empty allowed origin would
  // only be a malformed header.
  if (!origin.empty()) res.set_header("Access-Control-Allow-Origin", origin);
}

void HandleCommand(const httplib::Request& req, std::string body, httplib::Response& res) {
  CommandAnswer answer;
  {
    // The body goes with the request, before the answer is sent, unless the answer quotes it
    // (an archive's pictures), which then holds it until it is sent.
    CommandRequest request;
    request.ParseOwned(std::move(body));  // A body that is not JSON simply selects no command.
    answer = RunCommand(request, request.CommandCode());
  }
  SetCrossOriginHeaders(req, res);
  if (answer.stream != nullptr) {
    SetAnswerBody(res, std::move(answer.stream), kAnswerType);
  } else {
    SetAnswerBody(res, std::move(answer.text), kAnswerType);
  }
}

// Requests waiting for a program the user still has open would hold the stop for as long as the
// user works; they give up instead and leave the program running.
void Stop(TlsServer& server) {
  AbandonProgramWaits();
  server.stop();
}

void RegisterRoutes(TlsServer& server, OriginConsent& consent) {
  auto hello = [](const httplib::Request&, httplib::Response& res) {
    res.set_content("Hello World!", "text/plain");
  };
  std::vector<Route> routes = {
      {"GET", "/hi", hello},
      {"GET", "/", hello},
      {"GET", R"(/numbers/(\d+))",
       [](const httplib::Request& req, httplib::Response& res) {
         res.set_content(req.matches[1].str(), "text/plain");
       }},
      {"GET", "/body-header-param",
       [](const httplib::Request& req, httplib::Response& res) {
         res.set_content(req.body, "text/plain");
       }},
      {"POST", "/", nullptr, HandleCommand},
      {"OPTIONS", "/",
       [](const httplib::Request& req, httplib::Response& res) {
         SetCrossOriginHeaders(req, res);
         res.set_content("", kAnswerType);
       }},
      {"GET", "/stop", [&server](const httplib::Request&, httplib::Response&) { Stop(server); }},
  };
  RegisterGuardedRoutes(server, routes, consent);
}

}  // namespace

void RunEndpoint(const std::string& cert_path, const std::string& key_path,
                 OriginConsent& consent) {
  Log("%s\n", consent.Description().c_str());
  TlsServer server([&](SSL_CTX& ctx) { return SetUpTls(ctx, cert_path, key_path); });
  // SO_REUSEADDR only: the library's default adds SO_REUSEPORT, which would let a second
  // instance bind the same port and take half of the connections.
  server.set_socket_options(SetAddressReuseOnly);
  // Without it every answer waits for the peer's delayed acknowledgement (about 40 ms).
  server.set_tcp_nodelay(true);
  RegisterRoutes(server, consent);
  Log("listen port [%d]\n", kServicePort);
  if (!server.is_valid() || !server.bind_to_port(FirstUsableAddress(kHostName), kServicePort)) {
    return;
  }
  // Watched from the moment there is a socket to close: a signal that came earlier has waited.
  // The library stops only a server whose accept loop has begun, a moment after binding.
  StopSignals signals([&server] {
    for (int tries = 0; tries < 100 && !server.is_running(); ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop(server);
  });
  server.listen_after_bind();
}
