// The file-system seam's contract, run against this platform's implementation.
#include "platform/file_system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "support/scratch_folder.h"

namespace {

using scratch::Exists;
using scratch::ReadFile;
using scratch::WriteFile;

class FileSystemTest : public ::testing::Test {
 protected:
  FileSystem& fs_ = FileSystem::Default();
  scratch::ScratchFolder temp_;
};

TEST_F(FileSystemTest, WriteModesCreateTruncateOrRefuse) {
  WriteFile(temp_ / "old", "old contents");
  ASSERT_EQ(symlink((temp_ / "nowhere").c_str(), (temp_ / "dangling").c_str()), 0);
  struct Row {
    const char* name;
    WriteMode mode;
    bool written;
    const char* contents_after;
  } rows[] = {
      {"old", WriteMode::kTruncate, true, "new"},
      {"fresh", WriteMode::kTruncate, true, "new"},
      {"old2", WriteMode::kExclusive, true, "new"},
      {"old", WriteMode::kExclusive, false, "new"},  // written by the first row
      {"dangling", WriteMode::kExclusive, false, ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(fs_.WriteFile(temp_ / row.name, "new", row.mode).ok(), row.written) << row.name;
    EXPECT_EQ(ReadFile(temp_ / row.name), row.contents_after) << row.name;
  }
  EXPECT_FALSE(Exists(temp_ / "nowhere"));  // the link was not followed
  EXPECT_EQ(fs_.WriteFile(temp_ / "missing/f", "x", WriteMode::kTruncate).ToString(),
            temp_ / "missing/f" + ": No such file or directory");
}

TEST_F(FileSystemTest, FailedWriteRemovesThePartialFileButNeverADevice) {
  // A file size limit makes the write fail half-way, as a full disk would.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = 4;
  sighandler_t old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool written = fs_.WriteFile(temp_ / "big", "more than four bytes", WriteMode::kTruncate).ok();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(written);
  EXPECT_FALSE(Exists(temp_ / "big"));

  EXPECT_FALSE(fs_.WriteFile("/dev/full", "x", WriteMode::kTruncate).ok());
  EXPECT_TRUE(Exists("/dev/full"));
}

TEST_F(FileSystemTest, MoveAndCopyNeverOverwrite) {
  WriteFile(temp_ / "a", "A");
  WriteFile(temp_ / "b", "B");
  EXPECT_FALSE(fs_.MoveFile(temp_ / "a", temp_ / "b").ok());
  EXPECT_FALSE(fs_.CopyFile(temp_ / "a", temp_ / "b").ok());
  EXPECT_EQ(ReadFile(temp_ / "a"), "A");
  EXPECT_EQ(ReadFile(temp_ / "b"), "B");

  EXPECT_TRUE(fs_.CopyFile(temp_ / "a", temp_ / "c").ok());
  EXPECT_EQ(ReadFile(temp_ / "c"), "A");
  EXPECT_TRUE(fs_.MoveFile(temp_ / "c", temp_ / "d").ok());
  EXPECT_FALSE(Exists(temp_ / "c"));
  EXPECT_EQ(ReadFile(temp_ / "d"), "A");
  EXPECT_FALSE(fs_.CopyFile(temp_ / "missing", temp_ / "e").ok());
  EXPECT_FALSE(fs_.CopyFile(temp_.path(), temp_ / "e").ok());  // not a regular file
  EXPECT_FALSE(Exists(temp_ / "e"));
}

TEST_F(FileSystemTest, ReadWholeFileAndMapAcceptOnlyRegularFiles) {
  WriteFile(temp_ / "f", std::string("a\0b", 3));
  WriteFile(temp_ / "empty", "");
  ASSERT_EQ(mkfifo((temp_ / "pipe").c_str(), 0600), 0);
  const std::string kBytes("a\0b", 3);
  struct Row {
    std::string path;
    bool read;
    std::string contents;
    bool mapped;
  } rows[] = {
      {temp_ / "f", true, kBytes, true},  {temp_ / "empty", true, "", false},
      {temp_ / "pipe", false, "", false},  // would block without a writer
      {temp_.path(), false, "", false},   {temp_ / "missing", false, "", false},
      {"/dev/zero", false, "", false},
  };
  for (const Row& row : rows) {
    std::string contents = "stale";
    EXPECT_EQ(fs_.ReadWholeFile(row.path, contents).ok(), row.read) << row.path;
    EXPECT_EQ(contents, row.contents) << row.path;
    EXPECT_EQ(fs_.MapReadOnly(row.path) != nullptr, row.mapped) << row.path;
  }
  std::string contents;
  EXPECT_EQ(fs_.ReadWholeFile(temp_ / "f", contents, 2).error_number(), EFBIG);
  EXPECT_TRUE(fs_.ReadWholeFile(temp_ / "f", contents, 3).ok());
  std::unique_ptr<MappedFile> mapped = fs_.MapReadOnly(temp_ / "f");
  ASSERT_NE(mapped, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapped->data()), mapped->size()), kBytes);
}

// Names read as their paths do, but never through a link in a folder held for its paths.
TEST_F(FileSystemTest, NamesInAHeldFolderReadAsTheirPathsDo) {
  ASSERT_EQ(mkdir((temp_ / "pics").c_str(), 0700), 0);
  WriteFile(temp_ / "pics/a.png", "png");
  WriteFile(temp_ / "outside", "out");
  ASSERT_EQ(symlink((temp_ / "outside").c_str(), (temp_ / "pics/link").c_str()), 0);
  ASSERT_EQ(mkfifo((temp_ / "pics/pipe").c_str(), 0600), 0);
  std::unique_ptr<HeldFolder> pics, parent, made;
  ASSERT_TRUE(fs_.OpenFolder(temp_ / "pics", FollowLinks::kYes, pics).ok());
  ASSERT_TRUE(fs_.OpenFolder(temp_.path(), FollowLinks::kNo, parent).ok());
  ASSERT_TRUE(fs_.MakeFolderIn(*parent, "req", FolderAccess::kPrivate, made).ok());
  ASSERT_EQ(symlink((temp_ / "outside").c_str(), (temp_ / "req/link").c_str()), 0);
  struct Row {
    const HeldFolder* folder;
    const char* name;
    FileType type;  // links followed
    int error;      // of the whole read
    const char* contents;
  } const rows[] = {
      {pics.get(), "a.png", FileType::kRegular, 0, "png"},
      {pics.get(), "link", FileType::kRegular, 0, "out"},
      {pics.get(), "pipe", FileType::kOther, EINVAL, ""},
      {parent.get(), "pics/a.png", FileType::kNone, EINVAL, ""},
      {made.get(), "link", FileType::kLink, ELOOP, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.folder->Path() + "/" + row.name);
    EXPECT_EQ(fs_.StatusIn(*row.folder, row.name, FollowLinks::kYes).type, row.type);
    std::string contents = "stale";
    EXPECT_EQ(fs_.ReadWholeFileIn(*row.folder, row.name, contents).error_number(), row.error);
    EXPECT_EQ(contents, row.contents);
  }
  EXPECT_EQ(fs_.StatusIn(*pics, "link", FollowLinks::kNo).type, FileType::kLink);
}

// The process's resident pages of mapped files, in kB.
long ResidentFileKb() {
  std::string status = ReadFile("/proc/self/status");
  size_t at = status.find("RssFile:");
  return at == std::string::npos ? -1 : std::strtol(status.c_str() + at + 8, nullptr, 10);
}

TEST_F(FileSystemTest, ReleasedPagesLeaveMemoryAndReadAgain) {
  // A tmpfs file's pages are the file itself: releasing a mapping of it frees nothing.
  struct statfs where;
  if (statfs(temp_.path().c_str(), &where) == 0 && where.f_type == TMPFS_MAGIC) {
    GTEST_SKIP() << "the scratch folder is on tmpfs";
  }
  std::string bytes(16 << 20, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + 7);
  WriteFile(temp_ / "big", bytes);
  std::unique_ptr<MappedFile> mapped = fs_.MapReadOnly(temp_ / "big");
  ASSERT_NE(mapped, nullptr);
  auto view = [&] { return std::string(reinterpret_cast<const char*>(mapped->data()), 16 << 20); };
  ASSERT_EQ(view(), bytes);  // every page read
  long resident = ResidentFileKb();
  mapped->ReleasePages(100, mapped->size() - 100);  // all but the first page
  EXPECT_LT(ResidentFileKb(), resident - 15 * 1024);
  EXPECT_EQ(view(), bytes);
}

TEST_F(FileSystemTest, StatusKeepsNanosecondsAndTellsLinksApart) {
  WriteFile(temp_ / "f", "12345");
  struct timespec times[2] = {{1700000000, 123456789}, {1700000000, 987654321}};
  ASSERT_EQ(utimensat(AT_FDCWD, (temp_ / "f").c_str(), times, 0), 0);
  ASSERT_EQ(symlink("f", (temp_ / "link").c_str()), 0);
  FileStatus followed = fs_.Status(temp_ / "link", FollowLinks::kYes);
  EXPECT_EQ(followed.type, FileType::kRegular);
  EXPECT_EQ(followed.size, 5u);
  EXPECT_EQ(followed.modified_seconds, 1700000000);
  EXPECT_EQ(followed.modified_nanoseconds, 987654321);
  EXPECT_EQ(fs_.Status(temp_ / "link", FollowLinks::kNo).type, FileType::kLink);
  EXPECT_EQ(fs_.Status(temp_.path(), FollowLinks::kNo).type, FileType::kFolder);
  EXPECT_FALSE(fs_.Status(temp_ / "missing", FollowLinks::kYes).Exists());
}

TEST_F(FileSystemTest, MakeFolderAndListOneLevel) {
  EXPECT_TRUE(fs_.MakeFolder(temp_ / "d").ok());
  EXPECT_TRUE(fs_.MakeFolder(temp_ / "d").AlreadyExists());
  EXPECT_EQ(fs_.MakeFolder(temp_ / "missing/d").error_number(), ENOENT);
  WriteFile(temp_ / "d/file", "x");
  ASSERT_EQ(mkdir((temp_ / "d/sub").c_str(), 0700), 0);
  WriteFile(temp_ / "d/sub/deeper", "x");
  ASSERT_EQ(symlink("sub", (temp_ / "d/link").c_str()), 0);
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(fs_.ListFolder(temp_ / "d", entries).ok());
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  std::vector<std::pair<std::string, FileType>> listed;
  for (const FolderEntry& entry : entries) listed.emplace_back(entry.name, entry.type);
  EXPECT_EQ(listed, (std::vector<std::pair<std::string, FileType>>{{"file", FileType::kRegular},
                                                                   {"link", FileType::kLink},
                                                                   {"sub", FileType::kFolder}}));
  EXPECT_EQ(fs_.ListFolder(temp_ / "d/file", entries).error_number(), ENOTDIR);
}

TEST_F(FileSystemTest, DeleteTreeRemovesLinksNotTheirTargets) {
  ASSERT_EQ(mkdir((temp_ / "outside").c_str(), 0700), 0);
  WriteFile(temp_ / "outside/keep", "x");
  ASSERT_EQ(mkdir((temp_ / "tree").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((temp_ / "tree/sub").c_str(), 0700), 0);
  WriteFile(temp_ / "tree/sub/f", "x");
  ASSERT_EQ(symlink((temp_ / "outside").c_str(), (temp_ / "tree/sub/out").c_str()), 0);
  std::vector<std::string> reports;
  auto observer = [&](const std::string& path, bool is_folder, bool deleted) {
    reports.push_back(path.substr(temp_.path().size()) + (is_folder ? " folder " : " file ") +
                      (deleted ? "ok" : "failed"));
  };
  EXPECT_TRUE(fs_.DeleteTree(temp_ / "tree", observer).ok());
  std::sort(reports.begin(), reports.begin() + 2);  // listing order within sub
  EXPECT_EQ(reports, (std::vector<std::string>{"/tree/sub/f file ok", "/tree/sub/out file ok",
                                               "/tree/sub folder ok", "/tree folder ok"}));
  EXPECT_TRUE(Exists(temp_ / "outside/keep"));

  reports.clear();
  ASSERT_EQ(symlink((temp_ / "outside").c_str(), (temp_ / "folder-link").c_str()), 0);
  EXPECT_FALSE(fs_.DeleteFolderFiles(temp_ / "folder-link", observer).ok());
  EXPECT_TRUE(reports.empty());
  EXPECT_TRUE(Exists(temp_ / "outside/keep"));
}

// A folder made and held: its name swapped for a link to another folder changes nothing for
// calls on paths inside it. Each row is one call made after the swap.
TEST_F(FileSystemTest, HeldFolderIsReachedThroughItsHandleAfterALinkSwap) {
  ASSERT_EQ(mkdir((temp_ / "victim").c_str(), 0700), 0);
  WriteFile(temp_ / "victim/secret", "key");
  std::unique_ptr<HeldFolder> parent;
  std::unique_ptr<HeldFolder> held;
  ASSERT_TRUE(fs_.OpenFolder(temp_.path(), FollowLinks::kNo, parent).ok());
  ASSERT_TRUE(fs_.MakeFolderIn(*parent, "req", FolderAccess::kShared, held).ok());
  EXPECT_TRUE(fs_.MakeFolderIn(*parent, "req", FolderAccess::kShared, held).AlreadyExists());
  const std::string req = held->Path();
  ASSERT_EQ(req, temp_ / "req");
  WriteFile(req + "/mine", "ours");
  ASSERT_EQ(rename(req.c_str(), (temp_ / "moved").c_str()), 0);
  ASSERT_EQ(symlink((temp_ / "victim").c_str(), req.c_str()), 0);

  std::string contents;
  EXPECT_EQ(fs_.ReadWholeFile(req + "/secret", contents).error_number(), ENOENT);
  EXPECT_EQ(fs_.MapReadOnly(req + "/secret"), nullptr);
  EXPECT_TRUE(fs_.ReadWholeFile(req + "//mine", contents).ok());
  EXPECT_EQ(contents, "ours");
  EXPECT_TRUE(fs_.WriteFile(req + "/part.desktop", "x", WriteMode::kExclusive).ok());
  EXPECT_TRUE(fs_.MakeFolder(req + "/sub").ok());
  EXPECT_EQ(fs_.ReadWholeFile(req + "/../victim/secret", contents).error_number(), EACCES);
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(fs_.ListFolder(req, entries).ok());
  EXPECT_EQ(entries.size(), 3u);  // mine, part.desktop, sub
  EXPECT_EQ(scratch::CountEntries(temp_ / "victim"), 1);
  EXPECT_EQ(fs_.DeleteTree(req, [](const std::string&, bool, bool) {}).error_number(), ENOENT);
  EXPECT_EQ(scratch::CountEntries(temp_ / "moved"), 0);  // emptied through the handle
  EXPECT_EQ(ReadFile(temp_ / "victim/secret"), "key");

  held.reset();  // let go: the path is an ordinary path again
  EXPECT_TRUE(fs_.ReadWholeFile(req + "/secret", contents).ok());
  std::unique_ptr<HeldFolder> link;
  EXPECT_EQ(fs_.OpenFolder(req, FollowLinks::kNo, link).error_number(), ENOTDIR);
  EXPECT_TRUE(fs_.OpenFolder(req, FollowLinks::kYes, link).ok());
}

}  // namespace
