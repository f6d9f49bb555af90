#include "service/request_guard.h"

#include <httplib.h>

#include <memory>
#include <regex>

#include "service/origin_allowlist.h"
#include "text/ascii.h"

namespace {

// What the pre-routing step found about the request its thread is serving. The library runs
// pre-routing, body reading and the handler of one request on one thread, one after another.
struct RequestNotes {
  bool origin_refused = false;
  bool encoded_body = false;
  std::string rerouted_method;  // the method the request came with, when it was rewritten
};
thread_local RequestNotes notes;

// The method a request is rewritten to so that the library reads its body; no route uses it.
// (Not DELETE: the library reads a chunked DELETE body as empty.)
constexpr char kBodyReadingMethod[] = "PUT";

bool LibraryReadsBody(const std::string& method) {
  return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE" ||
         method == "PRI";
}

bool HasBody(const httplib::Request& req) {
  if (req.has_header("Transfer-Encoding")) return true;
  return req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0";
}

bool HasContentEncoding(const httplib::Request& req) {
  auto range = req.headers.equal_range("Content-Encoding");
  for (auto it = range.first; it != range.second; ++it) {
    const std::string& value = it->second;
    size_t first = value.find_first_not_of(" \t");
    if (first != std::string::npos &&
        !EqualsIgnoringAsciiCase(std::string_view(value).substr(first), "identity")) {
      return true;
    }
  }
  return false;
}

struct CompiledRoute {
  std::string method;
  std::regex pattern;
  Route::Handler handler;
};

struct Guard {
  OriginAllowlist origins;
  std::vector<CompiledRoute> routes;

  // The library hands pre-routing a const view of a request object it owns and whose body it
  // has not read yet. Changing the method and the encoding header here is the one way to have
  // it read every body, and read an encoded one as it is instead of inflating it.
  void Inspect(const httplib::Request& req) {
    notes = RequestNotes();
    notes.origin_refused = !origins.Allows(req.has_header("Origin"), req.get_header_value("Origin"),
                                           req.get_header_value("Sec-Fetch-Site"));
    auto& request = const_cast<httplib::Request&>(req);
    if (HasContentEncoding(req)) {
      notes.encoded_body = true;
      request.headers.erase("Content-Encoding");
    }
    if (!LibraryReadsBody(req.method) && HasBody(req)) {
      notes.rerouted_method = req.method;
      request.method = kBodyReadingMethod;
    }
  }

  void Run(const Route::Handler& handler, const httplib::Request& req, httplib::Response& res) {
    if (notes.origin_refused) {
      res.status = 403;
    } else if (notes.encoded_body) {
      res.status = 415;
    } else {
      handler(req, res);
    }
  }

  // A rewritten request, its body read: back to its own method and route.
  void Reroute(const httplib::Request& req, httplib::Response& res) {
    if (notes.rerouted_method.empty()) {  // a request that came as PUT: no such route
      res.status = 404;
      return;
    }
    auto& request = const_cast<httplib::Request&>(req);
    request.method = notes.rerouted_method;  // a HEAD answer then carries no body
    const std::string& method = req.method == "HEAD" ? "GET" : req.method;
    for (const CompiledRoute& route : routes) {
      if (route.method == method && std::regex_match(req.path, request.matches, route.pattern)) {
        Run(route.handler, req, res);
        return;
      }
    }
    // As the library answers: no route is 404, a method it does not route is 400.
    res.status = method == "GET" || method == "OPTIONS" ? 404 : 400;
  }
};

}  // namespace

void RegisterGuardedRoutes(httplib::Server& server, const std::vector<Route>& routes,
                           const OriginAllowlist& origins) {
  auto guard = std::make_shared<Guard>();
  guard->origins = origins;
  server.set_pre_routing_handler([guard](const httplib::Request& req, httplib::Response&) {
    guard->Inspect(req);
    return httplib::Server::HandlerResponse::Unhandled;
  });
  for (const Route& route : routes) {
    guard->routes.push_back({route.method, std::regex(route.pattern), route.handler});
    auto run = [guard, handler = route.handler](const httplib::Request& req,
                                                httplib::Response& res) {
      guard->Run(handler, req, res);
    };
    if (route.method == "GET") server.Get(route.pattern, run);
    if (route.method == "POST") server.Post(route.pattern, run);
    if (route.method == "OPTIONS") server.Options(route.pattern, run);
  }
  server.Put(".*", [guard](const httplib::Request& req, httplib::Response& res) {
    guard->Reroute(req, res);
  });
}
