// Hostile targets for the HTML-file and files commands: names that are not regular files, names
// that are not UTF-8, and a link swapped between an image and another file while it is read.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "integration/service_fixture.h"
#include "support/scratch_folder.h"

namespace {

using scratch::ScratchFolder;

class FileCommandFaultsTest : public service_test::RunningServiceTest {
 protected:
  httplib::Result Post(const std::string& body) {
    auto client = service_.Client();
    client->set_read_timeout(10);  // a request that hangs fails here instead of blocking
    return client->Post("/", body, "text/plain");
  }
  int RequestFoldersLeft() const { return scratch::CountEntries(temp_ / "TAVU"); }
  std::string SaveEnvelope(const std::string& path, const std::string& html) {
    return "{\"cmd\":\"cfp-0060\",\"session\":\"f\",\"pdu\":{\"html\":\"" + html +
           "\",\"filefullpath\":\"" + path + "\"}}";
  }

  ScratchFolder temp_;
  scratch::TempDirOverride tmpdir_{temp_.path()};
  ScratchFolder files_;
};

const char kNotWritten[] = "{\"cmd\":\"cfp-0060\",\"error\":5,\"pdu\":null,\"session\":\"f\"}\n";

// Targets that are no regular file: a pipe would block the request forever once its buffer is
// full (and "/stop" could then not end the process). Names that are not UTF-8: writing to a name
// with U+FFFD in place of the bad bytes and answering 0 would report success for a file the page
// never named.
TEST_F(FileCommandFaultsTest, HtmlFileRefusesTargetsItCannotWriteAsNamed) {
  ASSERT_EQ(::mkfifo((files_ / "pipe.html").c_str(), 0600), 0);
  ASSERT_EQ(::symlink((files_ / "pipe.html").c_str(), (files_ / "link-to-pipe.html").c_str()), 0);
  ASSERT_EQ(::mkdir((files_ / "folder.html").c_str(), 0700), 0);
  const std::string big(256 << 10, 'x');  // more than a pipe holds
  for (const std::string& name :
       {std::string("pipe.html"), std::string("link-to-pipe.html"), std::string("folder.html"),
        std::string("caf\xE9.html"), std::string("\xFF\xFE.html"), std::string("half\xED\x95.html")}) {
    SCOPED_TRACE(name);
    auto res = Post(SaveEnvelope(files_ / name, "<p>" + big + "</p>"));
    ASSERT_TRUE(res) << "no answer";
    EXPECT_EQ(res->body, kNotWritten);
  }
  struct stat info;
  ASSERT_EQ(::lstat((files_ / "pipe.html").c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(scratch::CountEntries(files_.path()), 3);  // only what the test made
  EXPECT_EQ(RequestFoldersLeft(), 0);
  // A valid non-ASCII name still works.
  auto res = Post(SaveEnvelope(files_ / "caf\xC3\xA9.html", "<p>x</p>"));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body, "{\"cmd\":\"cfp-0060\",\"error\":0,\"pdu\":null,\"session\":\"f\"}\n");
  EXPECT_EQ(scratch::ReadFile(files_ / "caf\xC3\xA9.html"), "<p>x</p>");
}

// The file that passed the image test is the file that is encoded: a link swapped from an image
// to another file in between must never bring that other file back as an image.
TEST_F(FileCommandFaultsTest, FilesCommandEncodesTheFileItTested) {
  scratch::WriteFile(files_ / "image.png", scratch::TinyPng());
  scratch::WriteFile(files_ / "secret.txt", std::string(100000, 's'));
  const std::string link = files_ / "swap.png";
  ASSERT_EQ(::symlink((files_ / "image.png").c_str(), link.c_str()), 0);
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    const std::string staged = files_ / "staged";
    for (bool image = false; !done; image = !image) {
      std::string target = files_ / (image ? "image.png" : "secret.txt");
      ::unlink(staged.c_str());
      if (::symlink(target.c_str(), staged.c_str()) == 0) std::rename(staged.c_str(), link.c_str());
    }
  });
  std::string element = "{\"filepath\":\"" + link + "\"},";
  std::string files;
  for (int i = 0; i < 20; ++i) files += element;
  files.pop_back();
  const std::string body =
      "{\"cmd\":\"cfp-0040\",\"session\":\"r\",\"pdu\":{\"files\":[" + files + "]}}";
  int records = 0, wrong = 0;
  auto client = service_.Client();
  for (int request = 0; request < 150; ++request) {
    auto res = client->Post("/", body, "text/plain");
    ASSERT_TRUE(res);
    const std::string key = "\"base64string\":\"";
    for (size_t at = res->body.find(key); at != std::string::npos;
         at = res->body.find(key, at + 1)) {
      ++records;
      // Every PNG's base64 starts with its signature; the text file's never does.
      if (res->body.compare(at + key.size(), 11, "iVBORw0KGgo") != 0) ++wrong;
    }
  }
  done = true;
  swapper.join();
  EXPECT_GT(records, 0);
  EXPECT_EQ(wrong, 0) << "of " << records << " records";
}

}  // namespace
