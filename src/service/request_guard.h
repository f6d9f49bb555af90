#ifndef ORVO_SERVICE_REQUEST_GUARD_H_
#define ORVO_SERVICE_REQUEST_GUARD_H_

#include <functional>
#include <string>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib
class OriginAllowlist;

// One route of the endpoint: a method ("GET", "POST" or "OPTIONS"), a path pattern (a regular
// expression matched against the whole path) and its handler.
struct Route {
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
  std::string method;
  std::string pattern;
  Handler handler;
};

// Registers routes on server behind checks that run before any handler:
//  - a request the allowlist refuses (by its Origin, or its Sec-Fetch-Site when it has no
//    Origin) is answered 403 with no other header and runs
//    no handler (the preflight included);
//  - a request body with a Content-Encoding other than "identity" is answered 415 without being
//    inflated: the library would otherwise inflate it in memory without bound;
//  - a body sent with a method whose body the library does not read (GET, HEAD, OPTIONS...) is
//    read all the same and handed to the route, so that it can never be parsed as the next
//    request on a kept-alive connection.
// Every body is read from the connection before the answer is written, refused or not.
// routes and origins are copied; server keeps the handlers for its lifetime.
void RegisterGuardedRoutes(httplib::Server& server, const std::vector<Route>& routes,
                           const OriginAllowlist& origins);

#endif  // ORVO_SERVICE_REQUEST_GUARD_H_
