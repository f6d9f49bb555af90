// The calls the service's client makes into the codec component, recorded by a stand-in.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/mime_codec_client.h"

namespace {

const std::string kFakes = MIME_TEST_FAKE_ROOT;

class CodecClientSequence : public testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen((folder_ + MimeCodecClient::kComponentFileName).c_str(), RTLD_NOW);
    ASSERT_NE(handle_, nullptr) << dlerror();
    log_ = reinterpret_cast<const char* (*)()>(dlsym(handle_, "FakeCodecLog"));
    reset_ = reinterpret_cast<void (*)()>(dlsym(handle_, "FakeCodecReset"));
    ASSERT_TRUE(log_ != nullptr && reset_ != nullptr);
    reset_();
  }
  void TearDown() override { dlclose(handle_); }

  std::string folder_ = kFakes + "recording/";
  void* handle_ = nullptr;
  const char* (*log_)() = nullptr;
  void (*reset_)() = nullptr;
};

TEST_F(CodecClientSequence, EncodeCallsInTheContractsOrder) {
  struct Row {
    bool body_only;
    int32_t type;
    std::string charset;
    std::string page;
    bool ok;
    std::string calls;
  } const rows[] = {
      {false, 3, "utf-8", "<p>", true,
       "create;IntegerOption(2);BooleanOption(-1);Charset(utf-8);EncodeType(3);"
       "Encode(<p>|c1|/x/a.png|a.png|image/png|c2|/x/b.css|b.css||);free_text(text);release;"},
      {true, 2, "", "<p>", true,
       "create;IntegerOption(2);BooleanOption(-1);EncodeRange(1);EncodeType(2);"
       "Encode(<p>|c1|/x/a.png|a.png|image/png|c2|/x/b.css|b.css||);free_text(text);release;"},
      {false, 1, "utf-8", std::string("ab\0cd", 5), true,
       "create;IntegerOption(2);BooleanOption(-1);Charset(utf-8);EncodeType(1);"
       "Encode(ab|c1|/x/a.png|a.png|image/png|c2|/x/b.css|b.css||);free_text(text);release;"},
      {false, 3, "utf-8", "fail", false,
       "create;IntegerOption(2);BooleanOption(-1);Charset(utf-8);EncodeType(3);"
       "Encode(fail|c1|/x/a.png|a.png|image/png|c2|/x/b.css|b.css||);free_text(null);release;"},
  };
  for (const Row& row : rows) {
    reset_();
    MimeCodecClient::EncodeSettings settings;
    settings.body_only = row.body_only;
    settings.encode_type = row.type;
    settings.charset = row.charset;
    std::string archive = "stale";
    std::vector<ResourceEntry> entries = {
        {"c1", "http://h/a.png", "/x/a.png", "a.png", "image/png", true},
        {"c2", "/x/b.css", "/x/b.css", "b.css", "", false}};
    EXPECT_EQ(MimeCodecClient(folder_).Encode(row.page, entries, settings, archive), row.ok);
    EXPECT_EQ(archive, row.ok ? "archive of " + row.page.substr(0, row.page.find('\0')) : "");
    EXPECT_EQ(log_(), row.calls);
  }
}

TEST_F(CodecClientSequence, DecodeIgnoresTheComponentsResultAndAvailabilityReleases) {
  EXPECT_TRUE(MimeCodecClient(folder_).Decode("MIME", "/w/0/"));
  EXPECT_STREQ(log_(), "create;Decode(MIME|/w/0/);release;");
  reset_();
  EXPECT_TRUE(MimeCodecClient(folder_).IsAvailable());
  EXPECT_STREQ(log_(), "create;release;");
}

TEST(CodecClientBrokenComponents, AreNotAvailableAndDoNothing) {
  for (const char* variant : {"without_factory", "create_fails", "missing_entry"}) {
    MimeCodecClient client(kFakes + variant + "/");
    std::string archive;
    EXPECT_FALSE(client.IsAvailable()) << variant;
    EXPECT_FALSE(client.Encode("<p>", {}, {}, archive)) << variant;
    EXPECT_FALSE(client.Decode("MIME", "/w/0/")) << variant;
  }
}

}  // namespace
