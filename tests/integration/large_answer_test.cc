// The bytes of a large files answer, pinned by a checksum: the answer is assembled from many
// pieces (envelope, members the page sent, base64 text written from the files), and any change
// in how it is assembled must leave every byte on the wire as it was.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <string>

#include "integration/service_fixture.h"
#include "support/generated_png.h"
#include "support/scratch_folder.h"

namespace {

using scratch::ScratchFolder;
using scratch::WriteFile;

std::string Sha256Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 0xF]);
  }
  return hex;
}

// Every occurrence of from replaced by to.
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

class LargeAnswerTest : public service_test::RunningServiceTest {
 protected:
  ScratchFolder files_;
};

TEST_F(LargeAnswerTest, FilesAnswerBytesMatchTheRecordedChecksum) {
  // About 3 MB of picture (4 MB of answer), a 1x1 picture, a text file and a missing file; the
  // members the page sent sort before and after "base64string", one of them replaced by it.
  WriteFile(files_ / "big.png", generated_png::NoisePng(1000, 1000, 7));
  WriteFile(files_ / "small.png", generated_png::NoisePng(19, 1, 3));
  WriteFile(files_ / "notes.txt", "not an image\r\n");
  const std::string korean = "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4";
  std::string body =
      "{\"cmd\":\"CFP-0040\",\"session\":\"s\\u001f\\\"" + korean + "\",\"pdu\":{\"files\":[" +
      "{\"filepath\":\"" + files_ / "big.png" + "\",\"id\":\"big\",\"Zeta\":\"\\u0001\\t" + korean +
      "\"}," + "{\"filepath\":\"" + files_ / "notes.txt" +
      "\",\"a\":[1,2.5,true,null,{\"z\":{},\"y\":[]}]}," + "{\"filepath\":\"" +
      files_ / "small.png" + "\",\"base64string\":\"stale\",\"a\":-7}," + "{\"filepath\":\"" +
      files_ / "missing.png" + "\"}," + "{\"filepath\":\"" + files_ / "big.png" + "\"}]}}";
  auto res = service_.Client()->Post("/", body, "text/plain");
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200);
  std::string answer = ReplaceAll(res->body, files_.path(), "@");
  EXPECT_EQ(answer.substr(0, 62),
            "{\"cmd\":\"CFP-0040\",\"error\":-1,\"pdu\":{\"files\":[{\"Zeta\":\"\\u0001\\t");
  EXPECT_EQ(answer.size(), 8426729u);
  EXPECT_EQ(Sha256Hex(answer), "908b6b4977056b929b215e8a3f941f03d84c3ada264f28c602eff49fe6d3aca0");
}

// Compressing on the way to a page on this machine only costs time: a browser, which always
// offers br and gzip, waited 90 s for a 28 MB answer under the library's default Brotli setting.
TEST_F(LargeAnswerTest, AnswersGoOutUncompressedWhateverTheClientAccepts) {
  WriteFile(files_ / "small.png", generated_png::NoisePng(19, 1, 3));
  const std::string bodies[] = {
      "{\"cmd\":\"cfp-1000\"}",
      "{\"cmd\":\"cfp-0040\",\"pdu\":{\"files\":[{\"filepath\":\"" + files_ / "small.png" +
          "\"}]}}",
  };
  for (const std::string& body : bodies) {
    for (const char* accepted : {"br", "gzip, deflate, br"}) {
      auto client = service_.Client();
      client->set_decompress(false);  // see the bytes as sent
      auto res = client->Post("/", {{"Accept-Encoding", accepted}}, body, "text/plain");
      ASSERT_TRUE(res) << body;
      EXPECT_FALSE(res->has_header("Content-Encoding")) << body << " " << accepted;
      EXPECT_EQ(res->get_header_value("Content-Length"), std::to_string(res->body.size()));
      EXPECT_EQ(res->body.substr(0, 8), "{\"cmd\":\"") << body;
    }
  }
}

// A picture cut short by another program while its answer is on the way: the rest of the answer
// cannot be made, so the connection is closed before the body's end (no wrong bytes are sent),
// the log says why, and the service goes on.
TEST_F(LargeAnswerTest, FileCutShortWhileSentClosesTheConnection) {
  const std::string big = files_ / "big.png";
  WriteFile(big, generated_png::NoisePng(2500, 2500, 5));  // about 19 MB
  httplib::Request req;
  req.method = "POST";
  req.path = "/";
  req.set_header("Content-Type", "text/plain");
  req.body = "{\"cmd\":\"cfp-0040\",\"pdu\":{\"files\":[{\"filepath\":\"" + big + "\"}]}}";
  size_t received = 0;
  bool cut = false;
  req.content_receiver = [&](const char*, size_t length, uint64_t, uint64_t) {
    received += length;
    if (!cut) cut = ::truncate(big.c_str(), 1000) == 0;
    return true;
  };
  auto res = service_.Client()->send(req);
  EXPECT_TRUE(cut);
  EXPECT_FALSE(res);
  EXPECT_LT(received, 19000000u);
  EXPECT_NE(service_.OutputOnceItHas("answer cut short").find("answer cut short"),
            std::string::npos);

  WriteFile(files_ / "small.png", generated_png::NoisePng(19, 1, 3));
  auto next = service_.Client()->Post("/",
                                      "{\"cmd\":\"cfp-0040\",\"pdu\":{\"files\":[{\"filepath\":\"" +
                                          files_ / "small.png" + "\"}]}}",
                                      "text/plain");
  ASSERT_TRUE(next);
  EXPECT_EQ(next->status, 200);
  EXPECT_NE(next->body.find("base64string"), std::string::npos);
}

}  // namespace
