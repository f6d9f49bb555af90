#include "service/request_guard.h"

#include <httplib.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <string>

#include "platform/memory_advice.h"
#include "service/origin_consent.h"
#include "service/tls_server.h"
#include "text/ascii.h"

namespace {

// What the set-up step found, written into the request as headers, the way the library itself
// hands the peer's address to routes (REMOTE_ADDR). A client's own copies are dropped first.
constexpr char kArrivedAsHeader[] = "Orvo-Arrived-As";  // the method, when it was changed
constexpr char kEncodedBodyHeader[] = "Orvo-Encoded-Body";

// The methods a request is changed to so that the library reads its body; each route is also
// registered under the one for its own method. (Not DELETE: the library reads a chunked DELETE
// body as empty.)
constexpr char kBodyReadingGet[] = "PUT";
constexpr char kBodyReadingOptions[] = "PATCH";

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

void SetUpRequest(httplib::Request& req) {
  req.headers.erase(kArrivedAsHeader);
  req.headers.erase(kEncodedBodyHeader);
  if (HasContentEncoding(req)) {
    req.headers.erase("Content-Encoding");  // read as it is, never inflated
    req.set_header(kEncodedBodyHeader, "1");
  }
  if (!LibraryReadsBody(req.method) && HasBody(req)) {
    req.set_header(kArrivedAsHeader, req.method);
    req.method = req.method == "OPTIONS" ? kBodyReadingOptions : kBodyReadingGet;
  }
}

// The method the client sent.
std::string ArrivedAs(const httplib::Request& req) {
  std::string changed = req.get_header_value(kArrivedAsHeader);
  return changed.empty() ? req.method : changed;
}

// Keeps the library's answer for a request no route takes: an unknown path is 404, a method it
// does not route (TRACE, CONNECT) is 400.
int NoRouteStatus(const std::string& arrived_as) {
  return arrived_as == "TRACE" || arrived_as == "CONNECT" ? 400 : 404;
}

std::string EscapedLineBreaks(const char* text) {
  std::string escaped;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '\r') {
      escaped += "\\r";
    } else if (*c == '\n') {
      escaped += "\\n";
    } else {
      escaped += *c;
    }
  }
  return escaped;
}

void AnswerException(httplib::Response& res, const std::string& what) {
  res = httplib::Response();
  res.status = 500;
  res.set_header("EXCEPTION_WHAT", what);
}

void RunHandler(const Route& route, const httplib::Request& req, std::string* body,
                httplib::Response& res) {
  try {
    if (route.body_handler) {
      route.body_handler(req, std::move(*body), res);
    } else {
      route.handler(req, res);
    }
  } catch (const std::exception& error) {
    AnswerException(res, EscapedLineBreaks(error.what()));
  } catch (...) {
    AnswerException(res, "UNKNOWN");
  }
}

// body: the body read for a route with a body handler, else null.
void Guard(const Route& route, OriginConsent& consent, const httplib::Request& req,
           httplib::Response& res, std::string* body = nullptr) {
  std::string arrived_as = ArrivedAs(req);
  std::string routed_as = arrived_as == "HEAD" ? "GET" : arrived_as;
  if (req.has_header(kEncodedBodyHeader)) {
    res.status = 415;
  } else if (routed_as != route.method) {
    res.status = NoRouteStatus(arrived_as);
  } else if (!consent.Allows(req.has_header("Origin"), req.get_header_value("Origin"),
                             req.get_header_value("Sec-Fetch-Site"))) {
    res.status = 403;
  } else {
    RunHandler(route, req, body, res);
    // A HEAD that came with a body is answered as the method it was changed to, whose answer
    // the library sends with its body.
    if (arrived_as == "HEAD" && req.method != "HEAD") res.body.clear();
  }
}

// Room for the body as its Content-Length announces it, so that it is never moved while it
// arrives; past this much it grows as it comes (the length is the client's word).
constexpr size_t kMaxReservedBody = size_t{1} << 30;
// The body is made ready for the connection's reads this much at a time, so that the zeroes
// that make it ready are still in the cache when the read overwrites them.
constexpr size_t kBodyStep = size_t{256} << 10;

// Reads the announced number of bytes from the connection straight into body, in pieces as
// large as the connection hands them (a TLS record), as the library's reader would but without
// its small intermediate buffer. On failure sets the library's status for a body cut short.
bool ReadAnnouncedBody(httplib::Stream& connection, unsigned long long announced, std::string& body,
                       httplib::Response& res) {
  size_t got = 0;
  while (got < announced) {
    if (got == body.size()) {
      body.resize(got +
                  static_cast<size_t>(std::min<unsigned long long>(announced - got, kBodyStep)));
    }
    ssize_t count = connection.read(body.data() + got, body.size() - got);
    if (count <= 0) {
      body.resize(got);
      res.status = 400;
      return false;
    }
    got += static_cast<size_t>(count);
  }
  return true;
}

// Reads the whole body into body, as the library would have read it into the request. A
// multipart form body the library takes apart into files, leaving the text empty: its parts
// are read and dropped. False when the body could not be read (the status is set then).
bool ReadBody(const httplib::Request& req, const httplib::ContentReader& reader, std::string& body,
              httplib::Response& res) {
  if (req.is_multipart_form_data()) {
    return reader([](const httplib::MultipartFormData&) { return true; },
                  [](const char*, size_t) { return true; });
  }
  std::string length = req.get_header_value("Content-Length");
  if (!length.empty() && !req.has_header("Transfer-Encoding")) {
    // The library reads the first Content-Length the same way.
    unsigned long long announced = std::strtoull(length.c_str(), nullptr, 10);
    body.reserve(static_cast<size_t>(std::min<unsigned long long>(announced, kMaxReservedBody)));
    AdviseLargePages(body.data(), body.capacity());
    if (httplib::Stream* connection = TlsServer::ServedConnection()) {
      return ReadAnnouncedBody(*connection, announced, body, res);
    }
  }
  return reader([&body](const char* data, size_t size) {
    body.append(data, size);
    return true;
  });
}

}  // namespace

void RegisterGuardedRoutes(TlsServer& server, const std::vector<Route>& routes,
                           OriginConsent& consent) {
  server.set_request_setup(SetUpRequest);
  for (const Route& route : routes) {
    auto guarded = [route, &consent](const httplib::Request& req, httplib::Response& res) {
      Guard(route, consent, req, res);
    };
    if (route.method == "GET") server.Get(route.pattern, guarded).Put(route.pattern, guarded);
    if (route.method == "POST" && route.body_handler) {
      server.Post(route.pattern,
                  [route, &consent](const httplib::Request& req, httplib::Response& res,
                                    const httplib::ContentReader& reader) {
                    std::string body;
                    if (ReadBody(req, reader, body, res)) Guard(route, consent, req, res, &body);
                  });
    } else if (route.method == "POST") {
      server.Post(route.pattern, guarded);
    }
    if (route.method == "OPTIONS") {
      server.Options(route.pattern, guarded).Patch(route.pattern, guarded);
    }
  }
}
