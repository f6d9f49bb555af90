// What the endpoint does before any route runs: bodies the library would skip or inflate, and
// the optional origin allowlist.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "integration/service_fixture.h"
#include "support/scratch_folder.h"

namespace {

using service_test::RawResponse;
using service_test::RawTlsConnection;
using service_test::ServiceProcess;
using service_test::SplitResponse;

constexpr char kVersionEnvelope[] = "{\"cmd\":\"cfp-1000\",\"session\":\"s1\"}";

std::string Request(const std::string& start, const std::string& headers, const std::string& body) {
  return start + " HTTP/1.1\r\nHost: localhost\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string VersionPost() {
  return Request("POST /", "Content-Type: text/plain\r\n", kVersionEnvelope);
}

bool IsVersionAnswer(const RawResponse& response) {
  return response.status == 200 && response.body.find("{\"cmd\":\"cfp-1000\",\"error\":-1,") == 0;
}

// Sends one request on the connection and reads its answer (empty when either fails).
RawResponse Exchange(RawTlsConnection& connection, const std::string& request) {
  if (!connection.Send(request)) return {};
  return SplitResponse(connection.ReadResponse());
}

std::string Gzip(const std::string& data) {
  z_stream stream{};
  deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, data.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

class RequestGuardTest : public service_test::RunningServiceTest {};

// A body sent with a method whose body the HTTP library does not read must still be read, and
// reach the route; the next request on the same connection is then answered as itself.
TEST_F(RequestGuardTest, BodiesOfEveryMethodAreReadAndNeverParsedAsARequest) {
  const std::string smuggled = "GET /numbers/666 HTTP/1.1\r\nHost: localhost\r\n\r\n";
  struct Row {
    std::string request;
    int status;
    std::string body;
  } const rows[] = {
      {Request("GET /body-header-param", "", "HELLO"), 200, "HELLO"},
      {Request("GET /body-header-param", "", smuggled), 200, smuggled},
      {Request("GET /hi", "", smuggled), 200, "Hello World!"},
      {Request("GET /numbers/7", "", "HELLO"), 200, "7"},
      {Request("GET /nothing", "", smuggled), 404, ""},
      {Request("OPTIONS /", "Origin: https://editor.test\r\n", VersionPost()), 200, ""},
      {"GET /body-header-param HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked\r\n\r\n"
       "5\r\nHELLO\r\n0\r\n\r\n",
       200, "HELLO"},
  };
  for (const Row& row : rows) {
    RawTlsConnection connection;
    ASSERT_TRUE(connection.Connect());
    RawResponse first = Exchange(connection, row.request);
    EXPECT_EQ(first.status, row.status) << row.request;
    EXPECT_EQ(first.body, row.body) << row.request;
    RawResponse second = Exchange(connection, VersionPost());
    EXPECT_TRUE(IsVersionAnswer(second)) << row.request << "\n-- answered --\n"
                                         << second.head << second.body;
  }
}

// The command route reads its body into a text of its own: a chunked body whole, a form body
// read and dropped (the library makes it files, never text), and the connection goes on.
TEST_F(RequestGuardTest, CommandBodiesAreReadWholeHoweverTheyArrive) {
  const std::string envelope = kVersionEnvelope;
  char size[16];
  std::snprintf(size, sizeof size, "%zx", envelope.size() - 5);
  const std::string form =
      "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n" + envelope + "\r\n--b--\r\n";
  struct Row {
    std::string request;
    bool runs_command;
  } const rows[] = {
      {"POST / HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked\r\n\r\n" +
           std::string(size) + "\r\n" + envelope.substr(0, envelope.size() - 5) + "\r\n5\r\n" +
           envelope.substr(envelope.size() - 5) + "\r\n0\r\n\r\n",
       true},
      {Request("POST /", "Content-Type: multipart/form-data; boundary=b\r\n", form), false},
      // The length in decimal whatever its leading zeros, as the library reads it.
      {"POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: 00" +
           std::to_string(envelope.size()) + "\r\n\r\n" + envelope,
       true},
  };
  for (const Row& row : rows) {
    RawTlsConnection connection;
    ASSERT_TRUE(connection.Connect());
    RawResponse first = Exchange(connection, row.request);
    if (row.runs_command) {
      EXPECT_TRUE(IsVersionAnswer(first)) << row.request << "\n-- answered --\n" << first.body;
    } else {
      EXPECT_EQ(first.status, 200) << row.request;
      EXPECT_EQ(first.body, "") << row.request;
    }
    EXPECT_TRUE(IsVersionAnswer(Exchange(connection, VersionPost()))) << row.request;
  }
}

// Bodies are never inflated: 64 MB of zeros in 64 KB of gzip would be inflated in memory.
TEST_F(RequestGuardTest, EncodedBodiesAreRefusedUnread) {
  const std::string bomb = Gzip(std::string(64 << 20, '\0'));
  const std::string gzipped_command = Gzip(kVersionEnvelope);
  struct Row {
    std::string encoding;
    std::string body;
    int status;
  } const rows[] = {
      {"gzip", gzipped_command, 415},
      {"gzip", bomb, 415},
      {"GZIP", bomb, 415},
      {"br", "\x0b\x02\x80", 415},
      {"deflate", bomb, 415},
      {"x-custom", kVersionEnvelope, 415},
      {"identity", kVersionEnvelope, 200},
  };
  for (const Row& row : rows) {
    RawTlsConnection connection;
    ASSERT_TRUE(connection.Connect());
    RawResponse first = Exchange(
        connection,
        Request("POST /",
                "Origin: https://editor.test\r\nContent-Encoding: " + row.encoding + "\r\n",
                row.body));
    EXPECT_EQ(first.status, row.status) << row.encoding;
    if (row.status == 415) {
      EXPECT_EQ(first.body, "") << row.encoding;
      EXPECT_EQ(first.head.find("Access-Control-"), std::string::npos) << row.encoding;
    }
    EXPECT_TRUE(IsVersionAnswer(Exchange(connection, VersionPost()))) << row.encoding;
  }
}

// With an "allowed-origins" file, only the pages it names (and clients that send no Origin,
// which are not pages) reach a route.
TEST(OriginAllowlistService, OnlyListedOriginsRunCommands) {
  ServiceProcess service;
  scratch::WriteFile(service.folder() + "allowed-origins",
                     "# the editor\nhttps://editor.example\n  http://127.0.0.1:8080/ \n");
  scratch::ScratchFolder files;
  ASSERT_TRUE(service.Start()) << service.Output();
  const std::string save =
      "{\"cmd\":\"cfp-0060\",\"session\":\"s\",\"pdu\":{\"html\":\"<p>\",\"filefullpath\":\"" +
      files / "page.html" + "\"}}";
  struct Row {
    std::string request;
    int status;
    bool cross_origin_headers;
  } const rows[] = {
      {Request("POST /", "Origin: https://editor.example\r\n", kVersionEnvelope), 200, true},
      {Request("POST /", "Origin: http://127.0.0.1:8080\r\n", kVersionEnvelope), 200, true},
      // Served, with no allowed origin to name.
      {Request("POST /", "", kVersionEnvelope), 200, false},
      {Request("POST /", "Origin: https://evil.example\r\n", save), 403, false},
      {Request("OPTIONS /",
               "Origin: https://evil.example\r\nAccess-Control-Request-Method: POST\r\n", ""),
       403, false},
      {Request("OPTIONS /",
               "Origin: https://editor.example\r\nAccess-Control-Request-Method: POST\r\n", ""),
       200, true},
      {Request("GET /stop", "Origin: https://evil.example\r\n", ""), 403, false},
      {Request("GET /hi", "Origin: https://evil.example\r\n", ""), 403, false},
      // A foreign page's <img src=".../stop">: no Origin, but marked cross-site.
      {Request("GET /stop", "Sec-Fetch-Site: cross-site\r\n", ""), 403, false},
      {Request("GET /hi", "Sec-Fetch-Site: same-origin\r\n", ""), 200, false},
  };
  for (const Row& row : rows) {
    RawTlsConnection connection;
    ASSERT_TRUE(connection.Connect());
    RawResponse response = Exchange(connection, row.request);
    EXPECT_EQ(response.status, row.status) << row.request;
    bool headers = response.head.find("Access-Control-Allow-Origin") != std::string::npos;
    EXPECT_EQ(headers, row.cross_origin_headers) << row.request;
    if (row.status == 403) {
      EXPECT_EQ(response.body, "") << row.request;
    }
  }
  EXPECT_FALSE(scratch::Exists(files / "page.html"));
  EXPECT_EQ(service.Output().find("every origin is allowed"), std::string::npos);
  auto stop = service.Client()->Get("/stop");
  ASSERT_TRUE(stop);
  EXPECT_EQ(service.WaitForExit(10000), 0);
}

// Without a deployer's list the desktop user is asked, through a stand-in "zenity" first on
// PATH that counts its questions and answers with the exit status the test sets.
class OriginConsentTest : public ::testing::Test {
 protected:
  OriginConsentTest() {
    scratch::WriteFile(bin_ / "zenity", "#!/bin/sh\necho \"$@\" >>'" + bin_ / "questions" +
                                            "'\nsleep 0.3\nexit \"$(cat '" + bin_ / "answer" +
                                            "')\"\n");
    std::filesystem::permissions(bin_ / "zenity", std::filesystem::perms::owner_all);
    std::filesystem::remove(service_.folder() + "allowed-origins");
  }
  int Status(const std::string& request) {
    RawTlsConnection connection;
    return connection.Connect() ? Exchange(connection, request).status : 0;
  }
  int Questions() const {
    std::string text = scratch::ReadFile(bin_ / "questions");
    int count = 0;
    for (size_t at = text.find("--question"); at != std::string::npos;
         at = text.find("--question", at + 1)) {
      ++count;
    }
    return count;
  }
  void Restart() {
    service_.Client()->Get("/stop");
    ASSERT_EQ(service_.WaitForExit(10000), 0);
    ASSERT_TRUE(service_.Start()) << service_.Output();
  }

  scratch::ScratchFolder bin_;
  scratch::EnvOverride path_{"PATH", bin_.path() + ":" + getenv("PATH")};
  scratch::EnvOverride display_{"DISPLAY", ":77"};
  ServiceProcess service_;
};

TEST_F(OriginConsentTest, EachOriginIsAskedOnceAndAllowedOnesAreKept) {
  auto post = [](const std::string& origin) {
    return Request("POST /", origin.empty() ? "" : "Origin: " + origin + "\r\n", kVersionEnvelope);
  };
  struct Row {
    std::string request;
    const char* dialog_exit;
    int status;
    int questions;  // asked so far
  } const rows[] = {
      {post("https://a.example"), "0", 200, 1},
      {post("HTTPS://A.example:443/"), "1", 200, 1},  // kept: not asked again
      {post("https://b.example"), "1", 403, 2},
      {Request("GET /hi", "Origin: https://b.example\r\n", ""), "0", 403, 2},    // declined stays
      {Request("OPTIONS /", "Origin: https://c.example\r\n", ""), "5", 403, 3},  // zenity timed out
      {post(""), "1", 200, 3},
      {Request("GET /stop", "Sec-Fetch-Site: cross-site\r\n", ""), "0", 403, 3},
      {post("null"), "0", 403, 3},
  };
  ASSERT_TRUE(service_.Start()) << service_.Output();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.request);
    scratch::WriteFile(bin_ / "answer", row.dialog_exit);
    EXPECT_EQ(Status(row.request), row.status);
    EXPECT_EQ(Questions(), row.questions);
  }
  EXPECT_NE(scratch::ReadFile(bin_ / "questions").find("\n    https://a.example\n"),
            std::string::npos);
  EXPECT_EQ(scratch::ReadFile(service_.config_folder() + "/orvohttps/allowed-origins"),
            "https://a.example\n");

  // Concurrent first requests of one origin wait for one question.
  scratch::WriteFile(bin_ / "answer", "0");
  std::vector<std::future<int>> first;
  for (int i = 0; i < 4; ++i) {
    first.push_back(
        std::async(std::launch::async, [&] { return Status(post("https://d.example")); }));
  }
  for (auto& status : first) EXPECT_EQ(status.get(), 200);
  EXPECT_EQ(Questions(), 4);

  // After a restart: allowed origins still are, a declined one is asked again.
  Restart();
  scratch::WriteFile(bin_ / "answer", "1");
  EXPECT_EQ(Status(post("https://a.example")), 200);
  EXPECT_EQ(Status(post("https://b.example")), 403);
  EXPECT_EQ(Questions(), 5);

  // No display to ask on: refused at once, and the log says how to allow it.
  scratch::EnvOverride no_display("DISPLAY", "");
  scratch::EnvOverride no_wayland("WAYLAND_DISPLAY", "");
  Restart();
  EXPECT_EQ(Status(post("https://e.example")), 403);
  EXPECT_EQ(Questions(), 5);
  // The log's writer may still hold the line when the answer arrives.
  const std::string line = "add the line \"https://e.example\"";
  EXPECT_NE(service_.OutputOnceItHas(line).find(line), std::string::npos);
  service_.Client()->Get("/stop");
}

// Standard output is a pipe that is full and that nobody reads: the service still starts,
// answers and stops, since no log line may block a request.
TEST(StuckOutput, TheServiceAnswersAndStopsWhileNobodyReadsItsOutput) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
  const std::string filler(4096, 'x');
  while (::write(ends[1], filler.data(), filler.size()) > 0) {
  }
  ::fcntl(ends[1], F_SETFL, 0);
  ServiceProcess service;
  service.set_output(ends[1]);
  bool started = service.Start();
  EXPECT_TRUE(started) << "the service did not start listening";
  if (started) {
    auto client = service.Client();
    client->set_read_timeout(10);
    for (int i = 0; i < 20; ++i) {
      auto res = client->Post("/", kVersionEnvelope, "text/plain");
      ASSERT_TRUE(res) << i;
      EXPECT_EQ(res->status, 200);
    }
    EXPECT_TRUE(client->Get("/stop"));
    EXPECT_EQ(service.WaitForExit(10000), 0);
  }
  ::close(ends[0]);
  ::close(ends[1]);
}

}  // namespace
