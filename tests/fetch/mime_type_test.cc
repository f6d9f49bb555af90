#include "fetch/mime_type.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>

#include "fetch/content_id.h"
#include "workspace/random_chars.h"

namespace {

struct Row {
  std::string url;
  std::string expected;
};

TEST(GetMimeTypeFromUrl, DecidesByTheNameOnly) {
  const Row rows[] = {
      {"http://127.0.0.1/img/a.png", "image/png"},
      {"http://127.0.0.1/img/A.PNG", "image/png"},
      {"http://127.0.0.1/a.jpg", "image/jpeg"},
      {"http://127.0.0.1/a.JPEG", "image/jpeg"},
      {"http://127.0.0.1/a.gif", "image/gif"},
      {"http://127.0.0.1/a.bmp", "image/bmp"},
      {"http://127.0.0.1/a.webp", "image/webp"},
      {"http://127.0.0.1/a.tif", "image/tiff"},
      {"http://127.0.0.1/a.svg", "image/svg+xml"},
      {"http://127.0.0.1/style/site.css", "text/css"},
      {"http://127.0.0.1/index.html", "text/html"},
      // Local paths, as the embedder passes them, and Windows-style separators.
      {"/home/u/TAVU/00000001/x.png", "image/png"},
      {"C:\\pictures\\b.gif", "image/gif"},
      {"/home/u/\xED\x95\x9C\xEA\xB8\x80.png", "image/png"},
      // The query and fragment are not part of the name.
      {"http://127.0.0.1/a.png?w=100&h=20", "image/png"},
      {"http://127.0.0.1/a.png#top", "image/png"},
      {"http://127.0.0.1/img?name=a.png", ""},
      // Nothing to go by.
      {"", ""},
      {"http://127.0.0.1/", ""},
      {"http://127.0.0.1/noextension", ""},
      {"/home/u/TAVU/00000001/a.octet-stream", ""},
      {"/home/u/TAVU/00000001/a.zzqq", ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(GetMimeTypeFromUrl(row.url), row.expected) << "url: " << row.url;
  }
}

TEST(GetMimeTypeFromUrl, AnswersAlikeOnManyThreads) {
  std::vector<std::thread> threads;
  std::vector<std::string> answers(8);
  for (size_t i = 0; i < answers.size(); ++i) {
    threads.emplace_back([&answers, i] {
      for (int k = 0; k < 200; ++k)
        answers[i] = GetMimeTypeFromUrl("http://h/p" + std::to_string(k) + ".jpg");
    });
  }
  for (auto& thread : threads) thread.join();
  for (const std::string& answer : answers) EXPECT_EQ(answer, "image/jpeg");
}

TEST(MakeContentId, IsTwelveRandomCharactersAndTheDomain) {
  std::string id = MakeContentId();
  ASSERT_EQ(id.size(), 12 + 1 + std::string(kContentIdDomain).size());
  for (char c : id.substr(0, 12)) {
    EXPECT_NE(std::string(kRandomAlphabet).find(c), std::string::npos) << id;
  }
  EXPECT_EQ(id.substr(12), std::string("@") + kContentIdDomain);
}

TEST(MakeContentId, FollowsTheThreadsRandomSequence) {
  // A fresh thread starts its generator where a never-seeded C runtime does, so its first
  // Content-ID is the first twelve random characters.
  std::string from_chars, from_id;
  std::thread([&] { from_chars = RandomChars(12); }).join();
  std::thread([&] { from_id = MakeContentId(); }).join();
  EXPECT_EQ(from_id, from_chars + "@" + kContentIdDomain);
}

TEST(MakeContentId, DoesNotRepeatWithinOneArchive) {
  std::set<std::string> ids;
  for (int i = 0; i < 10000; ++i) ids.insert(MakeContentId());
  EXPECT_EQ(ids.size(), 10000u);
}

}  // namespace
