#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/ssl.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "integration/service_fixture.h"
#include "support/executable_images.h"

namespace {

using service_test::HeaderNames;
using service_test::PortAcceptsConnections;
using service_test::RawResponse;
using service_test::RawTlsConnection;
using service_test::ServiceProcess;
using service_test::SplitResponse;

constexpr char kVersionAnswer[] =
    "{\"cmd\":\"cfp-1000\",\"error\":-1,\"pdu\":{\"version\":\"" ORVO_PROJECT_VERSION
    "\",\"version_daemon\":\"0.0.0.0\"},\"session\":\"s1\"}\n";

// With "*" in the "allowed-origins" beside it, the service says so once at start-up.
constexpr char kEveryOriginLine[] = "allowed-origins: every origin is allowed\n";

// The log after the start-up line naming the clipboard back end, which depends on the desktop
// the tests run on (the clipboard tests check that line).
std::string LogAfterClipboardLine(const ServiceProcess& service) {
  std::string log = service.Output();
  if (log.rfind("clipboard: ", 0) == 0) log.erase(0, log.find('\n') + 1);
  return log;
}

std::string Post(const std::string& body, const std::string& origin = "https://editor.test") {
  std::string request = "POST / HTTP/1.1\r\nHost: localhost\r\n";
  if (!origin.empty()) request += "Origin: " + origin + "\r\n";
  request += "Content-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
             "\r\n\r\n" + body;
  return request;
}

class EndpointTest : public service_test::RunningServiceTest {
 protected:
  // One request on a fresh connection; the raw response.
  std::string Exchange(const std::string& request) {
    RawTlsConnection connection;
    if (!connection.Connect() || !connection.Send(request)) return {};
    return connection.ReadResponse();
  }
};

TEST_F(EndpointTest, FixedGetRoutes) {
  auto client = service_.Client();
  for (const char* path : {"/hi", "/", "/hi?x=1"}) {
    auto res = client->Get(path);
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, "Hello World!");
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain");
  }
  auto numbers = client->Get("/numbers/17");
  ASSERT_TRUE(numbers);
  EXPECT_EQ(numbers->status, 200);
  EXPECT_EQ(numbers->body, "17");
  for (const char* path : {"/numbers/", "/numbers/x1", "/numbers/1x", "/hi/", "/nothing"}) {
    auto res = client->Get(path);
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, 404) << path;
    EXPECT_FALSE(res->has_header("Access-Control-Allow-Origin")) << path;
  }
}

TEST_F(EndpointTest, BodyRouteEchoesTheBodyTheLibraryRead) {
  // The HTTP library reads no body for GET, so the route has only an empty body to echo.
  RawResponse response =
      SplitResponse(Exchange("GET /body-header-param HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "");
  EXPECT_NE(response.head.find("\r\nContent-Type: text/plain\r\n"), std::string::npos);
}

TEST_F(EndpointTest, VersionCommandAnswersExactBytesAndCrossOriginHeaders) {
  RawResponse response =
      SplitResponse(Exchange(Post("{\"cmd\":\"cfp-1000\",\"session\":\"s1\",\"pdu\":{}}")));
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, kVersionAnswer);
  // The library writes its header map in name order; the three cross-origin headers come first.
  std::vector<std::string> expected = {"Access-Control-Allow-Methods",
                                       "Access-Control-Allow-Origin",
                                       "Access-Control-Allow-Private-Network",
                                       "Content-Length",
                                       "Content-Type",
                                       "Keep-Alive"};
  EXPECT_EQ(HeaderNames(response.head), expected);
  EXPECT_NE(response.head.find("\r\nAccess-Control-Allow-Methods: GET,POST,OPTIONS\r\n"),
            std::string::npos);
  EXPECT_NE(response.head.find("\r\nAccess-Control-Allow-Origin: https://editor.test\r\n"),
            std::string::npos);
  EXPECT_NE(response.head.find("\r\nAccess-Control-Allow-Private-Network: true\r\n"),
            std::string::npos);
  EXPECT_NE(response.head.find("\r\nContent-Type: text/plain;charset=UTF-8\r\n"),
            std::string::npos);
}

TEST_F(EndpointTest, CommandCaseAndSessionTypesAreKept) {
  auto client = service_.Client();
  auto res = client->Post("/", "{\"cmd\":\"CFP-1000\",\"session\":7}", "text/plain");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body.rfind("{\"cmd\":\"CFP-1000\",\"error\":-1,", 0), 0u) << res->body;
  EXPECT_EQ(res->body.substr(res->body.size() - 15), "\"session\":\"7\"}\n");
}

TEST_F(EndpointTest, MissingOriginGetsNoAllowOriginHeader) {
  RawResponse response = SplitResponse(Exchange(Post("{\"cmd\":\"cfp-1000\"}", "")));
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.head.find("Access-Control-Allow-Origin"), std::string::npos) << response.head;
}

TEST_F(EndpointTest, UnknownEmptyAndUnparsableBodiesAnswerEmpty) {
  auto client = service_.Client();
  httplib::Headers origin = {{"Origin", "null"}};
  for (const char* body : {"", "{\"cmd\":\"cfp-9999\"}", "{\"cmd\":\" cfp-1000\"}",
                           "{\"cmd\":\"cfp-100\"}", "not json", "{\"session\":\"x\"}", "null"}) {
    auto res = client->Post("/", origin, body, "text/plain");
    ASSERT_TRUE(res) << body;
    EXPECT_EQ(res->status, 200) << body;
    EXPECT_EQ(res->body, "") << body;
    EXPECT_EQ(res->get_header_value("Access-Control-Allow-Origin"), "null");
    EXPECT_EQ(res->get_header_value("Access-Control-Allow-Methods"), "GET,POST,OPTIONS");
    EXPECT_EQ(res->get_header_value("Access-Control-Allow-Private-Network"), "true");
  }
}

TEST_F(EndpointTest, JsonTypeErrorsBecome500WithoutCrossOriginHeaders) {
  struct Case {
    const char* body;
    const char* what;
  } cases[] = {
      {"[1,2]", "in Json::Value::find(begin, end): requires objectValue or nullValue"},
      {"12", "in Json::Value::find(begin, end): requires objectValue or nullValue"},
      {"{\"cmd\":[\"cfp-1000\"]}", "Type is not convertible to string"},
      {"{\"cmd\":\"cfp-1000\",\"session\":{}}", "Type is not convertible to string"},
  };
  auto client = service_.Client();
  httplib::Headers origin = {{"Origin", "https://editor.test"}};
  for (const Case& c : cases) {
    auto res = client->Post("/", origin, c.body, "text/plain");
    ASSERT_TRUE(res) << c.body;
    EXPECT_EQ(res->status, 500) << c.body;
    EXPECT_EQ(res->get_header_value("EXCEPTION_WHAT"), c.what);
    EXPECT_FALSE(res->has_header("Access-Control-Allow-Origin"));
    EXPECT_FALSE(res->has_header("Access-Control-Allow-Methods"));
  }
  // The service is still there.
  EXPECT_EQ(client->Get("/hi")->status, 200);
}

TEST_F(EndpointTest, NestingDeeperThanTheReaderAllowsKeepsWhatWasRead) {
  auto client = service_.Client();
  std::string deep(100000, '[');
  auto res =
      client->Post("/", "{\"cmd\":\"cfp-1000\",\"session\":\"s1\",\"pdu\":" + deep, "text/plain");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, kVersionAnswer);
  // A bare array root is the usual non-object root.
  res = client->Post("/", deep, "text/plain");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 500);
  EXPECT_EQ(res->get_header_value("EXCEPTION_WHAT"),
            "in Json::Value::find(begin, end): requires objectValue or nullValue");
}

TEST_F(EndpointTest, PreflightAnswersTheSameHeadersAndNothingElse) {
  RawResponse response = SplitResponse(
      Exchange("OPTIONS / HTTP/1.1\r\nHost: localhost\r\nOrigin: https://editor.test\r\n"
               "Access-Control-Request-Method: POST\r\n"
               "Access-Control-Request-Headers: content-type\r\n\r\n"));
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "");
  std::vector<std::string> expected = {"Access-Control-Allow-Methods",
                                       "Access-Control-Allow-Origin",
                                       "Access-Control-Allow-Private-Network",
                                       "Content-Length",
                                       "Content-Type",
                                       "Keep-Alive"};
  EXPECT_EQ(HeaderNames(response.head), expected);
  EXPECT_NE(response.head.find("\r\nContent-Type: text/plain;charset=UTF-8\r\n"),
            std::string::npos);
  EXPECT_NE(response.head.find("\r\nAccess-Control-Allow-Origin: https://editor.test\r\n"),
            std::string::npos);
}

TEST_F(EndpointTest, KeepAliveServesFiveRequestsThenCloses) {
  RawTlsConnection connection;
  ASSERT_TRUE(connection.Connect());
  std::string request = Post("{\"cmd\":\"cfp-1000\",\"session\":\"s1\"}");
  for (int i = 1; i <= 5; ++i) {
    ASSERT_TRUE(connection.Send(request)) << i;
    RawResponse response = SplitResponse(connection.ReadResponse());
    EXPECT_EQ(response.status, 200) << i;
    EXPECT_EQ(response.body, kVersionAnswer) << i;
    bool closing = response.head.find("\r\nConnection: close") != std::string::npos;
    EXPECT_EQ(closing, i == 5) << i;
  }
  connection.Send(request);  // May still be accepted by the kernel; no answer comes.
  EXPECT_EQ(connection.ReadResponse(), "");
}

// The system's OpenSSL settings (TLS 1.2 at least, security level 2 on Debian) refuse TLS 1.1
// by themselves. With them lowered to allow TLS 1.0, only the service's own minimum refuses it.
TEST(TlsMinimum, TlsBelowOneTwoIsRefusedEvenWhereTheSystemAllowsIt) {
  ServiceProcess service;
  std::string config = service.folder() + "openssl-permissive.cnf";
  std::ofstream(config) << "openssl_conf = conf\n[conf]\nssl_conf = ssl\n[ssl]\n"
                           "system_default = defaults\n[defaults]\nMinProtocol = TLSv1\n"
                           "CipherString = DEFAULT@SECLEVEL=0\n";
  const char* saved = std::getenv("OPENSSL_CONF");
  std::string saved_value = saved != nullptr ? saved : "";
  setenv("OPENSSL_CONF", config.c_str(), 1);
  bool started = service.Start();
  if (saved != nullptr) {
    setenv("OPENSSL_CONF", saved_value.c_str(), 1);
  } else {
    unsetenv("OPENSSL_CONF");
  }
  ASSERT_TRUE(started);
  const struct {
    int version;
    bool accepted;
  } rows[] = {{TLS1_VERSION, false},
              {TLS1_1_VERSION, false},
              {TLS1_2_VERSION, true},
              {TLS1_3_VERSION, true}};
  for (const auto& row : rows) {
    RawTlsConnection tls(row.version, row.version);
    EXPECT_EQ(tls.Connect(), row.accepted) << std::hex << row.version;
  }
}

// Ten small requests on one connection. A server of the same library with Nagle's algorithm
// left on holds back the second part of each answer until the client's delayed
// acknowledgement (about 40 ms); the service must not, so it takes a fraction of that time.
TEST_F(EndpointTest, AnswersAreNotHeldBackByNagle) {
  httplib::SSLServer nagle(service_.certificate_path().c_str(),
                           (service_.folder() + "localhost-key.pem").c_str());
  nagle.set_tcp_nodelay(false);
  nagle.Post("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kVersionAnswer, "text/plain;charset=UTF-8");
  });
  int port = nagle.bind_to_any_port("127.0.0.1");
  ASSERT_GT(port, 0);
  std::thread server([&] { nagle.listen_after_bind(); });
  auto ten_requests = [](httplib::SSLClient& client) {
    client.set_tcp_nodelay(true);
    client.set_keep_alive(true);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) {
      auto res = client.Post("/", "{\"cmd\":\"cfp-1000\",\"session\":\"s1\"}", "text/plain");
      EXPECT_TRUE(res && res->status == 200);
    }
    return std::chrono::steady_clock::now() - start;
  };
  auto service_client = service_.Client();
  httplib::SSLClient nagle_client("127.0.0.1", port);
  nagle_client.enable_server_certificate_verification(false);
  // The best of three: a loaded machine slows some batches, never the delayed-ACK wait away.
  auto service_time = std::min({ten_requests(*service_client), ten_requests(*service_client),
                                ten_requests(*service_client)});
  auto nagle_time = ten_requests(nagle_client);
  nagle.stop();
  server.join();
  EXPECT_LT(service_time * 3, nagle_time)
      << std::chrono::duration_cast<std::chrono::milliseconds>(service_time).count() << " ms vs "
      << std::chrono::duration_cast<std::chrono::milliseconds>(nagle_time).count() << " ms";
}

TEST_F(EndpointTest, LogsEachCommandOnItsOwnLine) {
  auto client = service_.Client();
  client->Post("/", "{\"cmd\":\"cfp-1000\"}", "text/plain");
  client->Post("/", "{\"cmd\":\"nothing\"}", "text/plain");
  client->Post("/", "", "text/plain");
  // The log is written behind the answers: wait for the last line before reading it whole.
  service_.OutputOnceItHas("doCMD [0]\ndoCMD [0]\n");
  EXPECT_EQ(
      LogAfterClipboardLine(service_),
      std::string(kEveryOriginLine) + "listen port [38951]\ndoCMD [15]\ndoCMD [0]\ndoCMD [0]\n");
}

TEST_F(EndpointTest, ConcurrentRequestsAllGetTheirOwnAnswers) {
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      auto client = service_.Client();
      for (int i = 0; i < 10; ++i) {
        std::string session = std::to_string(t) + "-" + std::to_string(i);
        auto res = client->Post("/", "{\"cmd\":\"cfp-1000\",\"session\":\"" + session + "\"}",
                                "text/plain");
        if (res && res->body.find("\"session\":\"" + session + "\"}\n") != std::string::npos) {
          ++good;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(good.load(), 80);
}

TEST_F(EndpointTest, AbandonedConnectionsDoNotHurtTheService) {
  {
    RawTlsConnection half;
    ASSERT_TRUE(half.Connect());
    half.Send("POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: 1000\r\n\r\n{\"cmd\":");
  }
  {
    RawTlsConnection silent;
    ASSERT_TRUE(silent.Connect());
  }
  auto res =
      service_.Client()->Post("/", "{\"cmd\":\"cfp-1000\",\"session\":\"s1\"}", "text/plain");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body, kVersionAnswer);
}

TEST_F(EndpointTest, LargeBodyIsReadWhole) {
  std::string big(4 << 20, 'x');
  auto res = service_.Client()->Post(
      "/", "{\"cmd\":\"cfp-1000\",\"session\":\"s1\",\"pdu\":{\"blob\":\"" + big + "\"}}",
      "text/plain");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body, kVersionAnswer);
}

TEST_F(EndpointTest, StopEndsTheProcessWithExitCodeZero) {
  auto res = service_.Client()->Get("/stop");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, "");
  EXPECT_EQ(service_.WaitForExit(10000), 0);
  EXPECT_FALSE(PortAcceptsConnections());
  EXPECT_FALSE(service_.Client()->Get("/stop"));
}

// Two requests sent in one write: the second is already decrypted when the first is answered.
TEST_F(EndpointTest, PipelinedRequestsAreAnsweredInOrder) {
  RawTlsConnection connection;
  ASSERT_TRUE(connection.Connect());
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(
      connection.Send("GET /numbers/1 HTTP/1.1\r\nHost: localhost\r\n\r\n"
                      "GET /numbers/2 HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  EXPECT_EQ(SplitResponse(connection.ReadResponse()).body, "1");
  EXPECT_EQ(SplitResponse(connection.ReadResponse()).body, "2");
  // A body of many records, the next request right behind it in records of its own that
  // arrive while the body is read: neither is read into the other, nor the second overlooked.
  std::string body = "{\"cmd\":\"cfp-1000\",\"session\":\"s1\",\"pdu\":{\"blob\":\"" +
                     std::string(700 << 10, 'x') + "\"}}";
  ASSERT_TRUE(connection.Send("POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body));
  ASSERT_TRUE(connection.Send("GET /numbers/3 HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  EXPECT_EQ(SplitResponse(connection.ReadResponse()).body, kVersionAnswer);
  EXPECT_EQ(SplitResponse(connection.ReadResponse()).body, "3");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

// Connections that each hold a thread (opened, no request sent yet) leave room for the version
// command and for "/stop", which also lets the held connections go at once.
TEST_F(EndpointTest, HeldConnectionsLeaveRoomForShortRequests) {
  auto start = std::chrono::steady_clock::now();
  std::vector<std::unique_ptr<RawTlsConnection>> held;
  for (int i = 0; i < 12; ++i) {
    held.push_back(std::make_unique<RawTlsConnection>());
    ASSERT_TRUE(held.back()->Connect()) << i;
  }
  EXPECT_EQ(SplitResponse(Exchange(Post("{\"cmd\":\"cfp-1000\",\"session\":\"s1\"}"))).body,
            kVersionAnswer);
  EXPECT_EQ(SplitResponse(Exchange("GET /stop HTTP/1.1\r\nHost: localhost\r\n\r\n")).status, 200);
  EXPECT_EQ(service_.WaitForExit(2000), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

// As GET "/stop" does: exit code 0, and the port is free for the next start at once.
TEST(ServiceStop, TermAndInterruptSignalsStopTheService) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    ServiceProcess service;
    ASSERT_TRUE(service.Start());
    ::kill(service.pid(), signal);
    EXPECT_EQ(service.WaitForExit(5000), 0);
    ServiceProcess next;
    ASSERT_TRUE(next.Start()) << next.Output();
    next.Client()->Get("/stop");
    EXPECT_EQ(next.WaitForExit(10000), 0);
  }
}

TEST(ServiceStartUp, SecondInstanceCannotBindAndExitsZero) {
  ServiceProcess first;
  ASSERT_TRUE(first.Start());
  ServiceProcess second;
  ASSERT_TRUE(second.Start(/*wait_for_listener=*/false));
  EXPECT_EQ(second.WaitForExit(10000), 0);
  EXPECT_EQ(LogAfterClipboardLine(second), std::string(kEveryOriginLine) + "listen port [38951]\n");
  auto res = first.Client()->Get("/hi");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body, "Hello World!");
  first.Client()->Get("/stop");
  EXPECT_EQ(first.WaitForExit(10000), 0);
}

TEST(ServiceStartUp, UnusableCertificateFilesMeanNoListenerAndExitZero) {
  for (auto certificate :
       {ServiceProcess::Certificate::kMissingKey, ServiceProcess::Certificate::kMissingCertificate,
        ServiceProcess::Certificate::kMismatchedKey}) {
    ServiceProcess service(certificate);
    ASSERT_TRUE(service.Start(/*wait_for_listener=*/false));
    EXPECT_EQ(service.WaitForExit(10000), 0);
    EXPECT_EQ(LogAfterClipboardLine(service),
              std::string(kEveryOriginLine) + "listen port [38951]\n");
    EXPECT_FALSE(PortAcceptsConnections());
  }
}

TEST(ServiceStartUp, RunsFromAFolderWithKoreanNameAndBlanks) {
  ServiceProcess service(ServiceProcess::Certificate::kValid, "편집기 도구");
  ASSERT_TRUE(service.Start()) << service.Output();
  auto res = service.Client()->Post("/", "{\"cmd\":\"cfp-1000\",\"session\":\"s1\"}", "text/plain");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body, kVersionAnswer);
  service.Client()->Get("/stop");
  EXPECT_EQ(service.WaitForExit(10000), 0);
}

TEST(ServiceStartUp, CompanionVersionIsReadFromItsVersionResource) {
  ServiceProcess service;
  ASSERT_TRUE(testing_images::WriteBytes(service.folder() + "OrvoService.exe",
                                         testing_images::MakePeWithVersion(3, 1, 4, 15)));
  ASSERT_TRUE(service.Start());
  auto res = service.Client()->Post("/", "{\"cmd\":\"cfp-1000\",\"session\":\"s\"}", "text/plain");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body,
            "{\"cmd\":\"cfp-1000\",\"error\":-1,\"pdu\":{\"version\":\"" ORVO_PROJECT_VERSION
            "\",\"version_daemon\":\"3.1.4.15\"},\"session\":\"s\"}\n");
  service.Client()->Get("/stop");
  EXPECT_EQ(service.WaitForExit(10000), 0);
}

}  // namespace
