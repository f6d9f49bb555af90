#ifndef ORVO_SERVICE_REQUEST_GUARD_H_
#define ORVO_SERVICE_REQUEST_GUARD_H_

#include <functional>
#include <string>
#include <vector>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib
class OriginConsent;
class TlsServer;

// One route of the endpoint: a method ("GET", "POST" or "OPTIONS"), a path pattern (a regular
// expression matched against the whole path) and its handler. A POST route may take the body
// as a text of its own instead (body_handler, set in place of handler): read into a buffer the
// route owns from then on, never into the request the library keeps, so that a body of tens
// of megabytes is held once and can be worked on in place.
struct Route {
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
  using BodyHandler =
      std::function<void(const httplib::Request&, std::string body, httplib::Response&)>;
  std::string method;
  std::string pattern;
  Handler handler;
  BodyHandler body_handler = nullptr;
};

// Registers routes on server behind checks that run before any handler:
//  - a request body with a Content-Encoding other than "identity" is answered 415 without being
//    inflated: the library would otherwise inflate it in memory without bound;
//  - a request the consent refuses (by its Origin, or its Sec-Fetch-Site when it has no Origin)
//    is answered 403 with no other header and runs no handler (the preflight included);
//  - a body sent with a method whose body the library does not read (GET, HEAD, OPTIONS...) is
//    read all the same and handed to the route, so that it can never be parsed as the next
//    request on a kept-alive connection;
//  - an exception that escapes a handler becomes a 500 answer whose "EXCEPTION_WHAT" header
//    carries the exception's message ("UNKNOWN" for one that is not a standard exception), and
//    nothing the handler had set.
// Every body is read from the connection before the answer is written, refused or not.
// routes are copied; consent must outlive the server, which keeps the handlers.
void RegisterGuardedRoutes(TlsServer& server, const std::vector<Route>& routes,
                           OriginConsent& consent);

#endif  // ORVO_SERVICE_REQUEST_GUARD_H_
