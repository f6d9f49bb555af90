#include "transfer_rules.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace orvohttp8 {
namespace {

AddressClass ClassifyIpv4(uint32_t address) {
  auto in = [address](uint32_t network, int bits) {
    return (address >> (32 - bits)) == (network >> (32 - bits));
  };
  if (in(0x7F000000, 8) || in(0x00000000, 8)) return AddressClass::kLoopback;
  if (in(0xA9FE0000, 16)) return AddressClass::kLinkLocal;
  // RFC 1918 ranges and the carrier-grade NAT range (RFC 6598), which is private to a provider.
  if (in(0x0A000000, 8) || in(0xAC100000, 12) || in(0xC0A80000, 16) || in(0x64400000, 10)) {
    return AddressClass::kPrivate;
  }
  return AddressClass::kPublic;
}

uint32_t Ipv4At(const unsigned char* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         uint32_t{bytes[3]};
}

AddressClass ClassifyIpv6(const unsigned char* bytes) {
  static constexpr unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  static constexpr unsigned char kNat64Prefix[12] = {0, 0x64, 0xFF, 0x9B};
  static constexpr unsigned char kZero[15] = {};
  if (std::memcmp(bytes, kMappedPrefix, 12) == 0 || std::memcmp(bytes, kNat64Prefix, 12) == 0) {
    return ClassifyIpv4(Ipv4At(bytes + 12));
  }
  if (std::memcmp(bytes, kZero, 15) == 0 && bytes[15] <= 1) return AddressClass::kLoopback;
  if (bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80) return AddressClass::kLinkLocal;
  // Unique local addresses (fc00::/7) and the old site-local ones (fec0::/10).
  if ((bytes[0] & 0xFE) == 0xFC || (bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0xC0)) {
    return AddressClass::kPrivate;
  }
  return AddressClass::kPublic;
}

AddressClass ClassifyText(const char* text, AddressClassifier classify) {
  sockaddr_in v4{};
  sockaddr_in6 v6{};
  if (inet_pton(AF_INET, text, &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    return classify(reinterpret_cast<const sockaddr*>(&v4));
  }
  if (inet_pton(AF_INET6, text, &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
    return classify(reinterpret_cast<const sockaddr*>(&v6));
  }
  return AddressClass::kPublic;
}

// Decides each connection of one transfer before its socket exists.
struct SocketGate {
  AddressClassifier classify;
  bool inside_allowed = true;  // loopback and private addresses; false after a public hop
  bool refused = false;
};

curl_socket_t OpenGatedSocket(void* context, curlsocktype, curl_sockaddr* address) {
  auto* gate = static_cast<SocketGate*>(context);
  AddressClass kind = gate->classify(&address->addr);
  bool allowed =
      kind == AddressClass::kPublic || (gate->inside_allowed && kind != AddressClass::kLinkLocal);
  if (!allowed) {
    gate->refused = true;
    return CURL_SOCKET_BAD;
  }
  return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

bool IsHttpUrl(const char* url) {
  return strncasecmp(url, "http://", 7) == 0 || strncasecmp(url, "https://", 8) == 0;
}

long MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  auto left = deadline - std::chrono::steady_clock::now();
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count());
}

TransferResult ResultOf(CURLcode code, const SocketGate& gate) {
  if (gate.refused) return TransferResult::kRefusedAddress;
  switch (code) {
    case CURLE_OK:
      return TransferResult::kDone;
    case CURLE_OPERATION_TIMEDOUT:
      return TransferResult::kTimedOut;
    case CURLE_WRITE_ERROR:
      return TransferResult::kStopped;
    case CURLE_FILESIZE_EXCEEDED:
      return TransferResult::kTooLarge;
    default:
      return TransferResult::kFailed;
  }
}

}  // namespace

AddressClass ClassifyAddress(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    return ClassifyIpv4(ntohl(v4->sin_addr.s_addr));
  }
  if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    return ClassifyIpv6(v6->sin6_addr.s6_addr);
  }
  return AddressClass::kPublic;
}

AddressClass ClassifyAddressText(const std::string& text) {
  return ClassifyText(text.c_str(), ClassifyAddress);
}

TransferResult PerformUnderRules(CURL* easy, const std::string& url, const TransferRules& rules,
                                 bool (*restart)(void* context), void* context) {
  SocketGate gate{rules.classify};
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, OpenGatedSocket);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &gate);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  std::string hop_url = url;
  for (int hop = 0;; ++hop) {
    long left = MillisecondsLeft(rules.deadline);
    if (left <= 0) return TransferResult::kTimedOut;
    curl_easy_setopt(easy, CURLOPT_URL, hop_url.c_str());
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, left);
    // Every hop opens its own connection: a reused one would skip the gate.
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, hop > 0 ? 1L : 0L);
    TransferResult result = ResultOf(curl_easy_perform(easy), gate);
    if (result != TransferResult::kDone) return result;
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 200 && status <= 299) return TransferResult::kDone;
    char* location = nullptr;
    curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location);
    if (status < 300 || status > 399 || location == nullptr || !IsHttpUrl(location)) {
      return TransferResult::kFailed;
    }
    if (hop == kMaxRedirects) return TransferResult::kTooManyRedirects;
    char* address = nullptr;
    curl_easy_getinfo(easy, CURLINFO_PRIMARY_IP, &address);
    if (address != nullptr && ClassifyText(address, rules.classify) == AddressClass::kPublic) {
      gate.inside_allowed = false;
    }
    hop_url = location;
    if (restart != nullptr && !restart(context)) return TransferResult::kFailed;
  }
}

}  // namespace orvohttp8
