// The download library's rules on addresses, redirects and size, against servers on three
// loopback addresses. A stand-in classifier lets 127.0.0.2 play a public server and 127.0.0.3
// a link-local one (a metadata service), so no traffic ever leaves this machine.
#include "download/transfer_rules.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <string>

#include "download/curl_download.h"
#include "fetch/temp_folder.h"
#include "fetch/test_http_server.h"

namespace {

using orvohttp8::AddressClass;
using orvohttp8::TransferResult;

TEST(ClassifyAddressText, SortsAddressesIntoTheirRanges) {
  const struct {
    const char* address;
    AddressClass expected;
  } rows[] = {
      {"169.254.169.254", AddressClass::kLinkLocal},
      {"fe80::1", AddressClass::kLinkLocal},
      {"febf::1", AddressClass::kLinkLocal},
      {"::ffff:169.254.0.1", AddressClass::kLinkLocal},
      {"127.0.0.1", AddressClass::kLoopback},
      {"127.255.0.9", AddressClass::kLoopback},
      {"::1", AddressClass::kLoopback},
      {"0.0.0.0", AddressClass::kLoopback},
      {"::", AddressClass::kLoopback},
      {"::ffff:127.0.0.1", AddressClass::kLoopback},
      {"10.0.0.1", AddressClass::kPrivate},
      {"172.16.0.1", AddressClass::kPrivate},
      {"172.31.255.255", AddressClass::kPrivate},
      {"192.168.1.1", AddressClass::kPrivate},
      {"100.64.0.1", AddressClass::kPrivate},
      {"fd00::1", AddressClass::kPrivate},
      {"64:ff9b::10.0.0.1", AddressClass::kPrivate},
      {"172.32.0.1", AddressClass::kPublic},
      {"169.255.0.1", AddressClass::kPublic},
      {"8.8.8.8", AddressClass::kPublic},
      {"2001:db8::1", AddressClass::kPublic},
      {"fec0::1", AddressClass::kPrivate},
      {"not an address", AddressClass::kPublic},
  };
  for (const auto& row : rows) EXPECT_EQ(orvohttp8::ClassifyAddressText(row.address), row.expected);
}

AddressClass StandIn(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    uint32_t v4 = ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
    if (v4 == 0x7F000002) return AddressClass::kPublic;
    if (v4 == 0x7F000003) return AddressClass::kLinkLocal;
  }
  return orvohttp8::ClassifyAddress(address);
}

// A URL inside a query.
std::string Escaped(const std::string& text) {
  char* escaped = curl_easy_escape(nullptr, text.c_str(), static_cast<int>(text.size()));
  std::string out = escaped;
  curl_free(escaped);
  return out;
}

class TransferRulesTest : public testing::Test {
 protected:
  void SetUp() override {
    for (TestHttpServer* server : {&intranet_, &public_, &metadata_}) server->AddFile("a.css", "p");
  }
  orvohttp8::DownloadResult Fetch(const std::string& url) {
    return orvohttp8::DownloadToFile(url, folder_.path() + "out",
                                     {"test", 3000, INT64_MAX, StandIn});
  }
  static std::string Away(const TestHttpServer& from, const std::string& to) {
    return from.Url("/away?to=" + Escaped(to));
  }

  TestHttpServer intranet_{"127.0.0.1"};
  TestHttpServer public_{"127.0.0.2"};
  TestHttpServer metadata_{"127.0.0.3"};
  TempFolder folder_;
};

TEST_F(TransferRulesTest, ReachesOnlyTheAddressesTheRulesAllow) {
  const std::string to_intranet = intranet_.Url("/files/a.css");
  const struct {
    const char* name;
    std::string url;
    TransferResult expected;
    const TestHttpServer* untouched;
  } rows[] = {
      {"intranet named by the page", to_intranet, TransferResult::kDone, nullptr},
      {"public", public_.Url("/files/a.css"), TransferResult::kDone, nullptr},
      {"intranet to public", Away(intranet_, public_.Url("/files/a.css")), TransferResult::kDone,
       nullptr},
      {"link-local named", metadata_.Url("/files/a.css"), TransferResult::kRefusedAddress,
       &metadata_},
      {"intranet to link-local", Away(intranet_, metadata_.Url("/files/a.css")),
       TransferResult::kRefusedAddress, &metadata_},
      {"public to intranet", Away(public_, to_intranet), TransferResult::kRefusedAddress,
       &intranet_},
      {"public, public, intranet", Away(public_, Away(public_, to_intranet)),
       TransferResult::kRefusedAddress, &intranet_},
      {"five redirects", intranet_.Url("/hops/5/a.css"), TransferResult::kDone, nullptr},
      {"six redirects", intranet_.Url("/hops/6/a.css"), TransferResult::kTooManyRedirects, nullptr},
  };
  for (const auto& row : rows) {
    size_t seen_before = row.untouched != nullptr ? row.untouched->requests().size() : 0;
    orvohttp8::DownloadResult result = Fetch(row.url);
    EXPECT_EQ(result.transfer, row.expected) << row.name;
    EXPECT_EQ(folder_.Names().count("out"), row.expected == TransferResult::kDone ? 1u : 0u)
        << row.name;
    if (row.untouched != nullptr) EXPECT_EQ(row.untouched->requests().size(), seen_before);
    std::remove((folder_.path() + "out").c_str());
  }
}

}  // namespace
