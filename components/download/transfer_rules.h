#ifndef ORVO_COMPONENTS_DOWNLOAD_TRANSFER_RULES_H_
#define ORVO_COMPONENTS_DOWNLOAD_TRANSFER_RULES_H_

// The rules every fetch of a page's reference keeps, whatever asks for it (the download itself
// or the length query before it): which addresses it may connect to and which redirects it may
// follow. A page on any site can name any URL, so these rules decide what the service can be
// made to read on the user's behalf.
//
//  - Link-local addresses (169.254.0.0/16, fe80::/10: cloud metadata services) are never
//    connected to.
//  - At most kMaxRedirects redirects are followed, to http and https only.
//  - Once a hop was served from a public address, no later hop may connect to a loopback,
//    private or link-local address: a public page cannot bounce the service into the intranet.
//    A URL that names an intranet address itself may still be served from it.
//
// The rules are checked on the address each connection is opened to, after name resolution,
// so a name that resolves to a forbidden address (or changes its answer between two lookups) is
// caught too. Proxies are not used: a proxy would connect on our behalf where the rules cannot
// look.
//
// Thread-safe: every call works on its own transfer.

#include <chrono>
#include <cstdint>
#include <string>

struct sockaddr;
typedef void CURL;

namespace orvohttp8 {

enum class AddressClass { kPublic, kLoopback, kPrivate, kLinkLocal };

// The class of an IPv4 or IPv6 socket address. IPv4 addresses inside IPv6 (::ffff:a.b.c.d,
// 64:ff9b::a.b.c.d) count as the IPv4 address they carry. "This host" (0.0.0.0/8, ::) counts as
// loopback, since connecting to it reaches this machine. Other families are kPublic.
AddressClass ClassifyAddress(const sockaddr* address);

// The same for numeric text ("10.1.2.3", "fe80::1"); kPublic for text that is no address.
AddressClass ClassifyAddressText(const std::string& text);

// Decides the class of an address. Tests give their own, to let loopback addresses stand in
// for public and link-local ones.
using AddressClassifier = AddressClass (*)(const sockaddr* address);

inline constexpr int kMaxRedirects = 5;

enum class TransferResult {
  kDone,            // the final answer is a 2xx one
  kFailed,          // no connection, an HTTP error status, a cut-off body, a bad redirect
  kRefusedAddress,  // the rules above forbade the address a hop led to
  kTooManyRedirects,
  kTimedOut,
  kStopped,   // the write callback refused the data (a full disk, a size limit)
  kTooLarge,  // the answer announced a body over CURLOPT_MAXFILESIZE_LARGE
};

struct TransferRules {
  AddressClassifier classify = ClassifyAddress;
  std::chrono::steady_clock::time_point deadline;  // of the whole transfer, redirects included
};

// Runs the transfer set up on easy (everything but the URL, the redirect settings and the
// socket callback, which this sets) for url, following redirects itself under the rules.
// restart is called before each hop after the first, so that the body of a redirect answer
// is not kept; it returns false to give up. A 1xx or 3xx final answer without a usable
// Location has no body of the resource and fails.
TransferResult PerformUnderRules(CURL* easy, const std::string& url, const TransferRules& rules,
                                 bool (*restart)(void* context), void* context);

}  // namespace orvohttp8

#endif  // ORVO_COMPONENTS_DOWNLOAD_TRANSFER_RULES_H_
