#include "workspace/temp_workspace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <regex>
#include <set>
#include <thread>

#include "imaging/image_utils.h"
#include "support/scratch_folder.h"

namespace {

using scratch::Exists;
using scratch::ScratchFolder;
using scratch::TempDirOverride;
using scratch::WriteFile;

class TempWorkspaceTest : public ::testing::Test {
 protected:
  ScratchFolder temp_;
  TempDirOverride tmpdir_{temp_.path()};
  void SetUp() override { ASSERT_TRUE(InitializeImaging()); }
  std::string Root() const { return temp_.path() + "/TAVU"; }
};

// The path of a new request folder under base (the work root for ""), or the reason it failed.
std::string NewFolderPath(const std::string& base = "") {
  std::unique_ptr<HeldFolder> folder;
  IoStatus made = base.empty() ? NewTempFolder(folder) : NewTempFolderUnder(base, folder);
  return made.ok() ? folder->Path() : "failed: " + made.ToString();
}

TEST_F(TempWorkspaceTest, WorkRootIsTmpdirElseRuntimeFolderElsePerUserTmp) {
  EXPECT_EQ(SystemTempFolder(), temp_.path() + "/");
  scratch::EnvOverride runtime("XDG_RUNTIME_DIR", "/run/user/1234");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(SystemTempFolder(), "/run/user/1234/");
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(SystemTempFolder(), "/tmp/orvohttps-" + std::to_string(::getuid()) + "/");
}

// A work root another user could write to, or one that is a link (to a folder made by someone
// else, say), is never used: nothing is made in it. A sticky shared folder, as TMPDIR=/tmp
// names, holds a private folder of the user's own instead.
TEST_F(TempWorkspaceTest, WorkRootMustBeAPrivateFolderOfTheUser) {
  ScratchFolder other;
  const std::string own = "/orvohttps-" + std::to_string(::getuid());
  ASSERT_EQ(::mkdir((other / "shared").c_str(), 0777), 0);
  ASSERT_EQ(::chmod((other / "shared").c_str(), 0777), 0);
  ASSERT_EQ(::mkdir((other / "sticky").c_str(), 0777), 0);
  ASSERT_EQ(::chmod((other / "sticky").c_str(), 01777), 0);
  ASSERT_EQ(::mkdir((other / "taken").c_str(), 0777), 0);
  ASSERT_EQ(::chmod((other / "taken").c_str(), 01777), 0);
  ASSERT_EQ(::mkdir((other / "taken" + own).c_str(), 0700), 0);
  ASSERT_EQ(::chown((other / "taken" + own).c_str(), 65534, 65534), 0);
  ASSERT_EQ(::mkdir((other / "foreign").c_str(), 0700), 0);
  ASSERT_EQ(::chown((other / "foreign").c_str(), 65534, 65534), 0);
  ASSERT_EQ(::mkdir((other / "private").c_str(), 0700), 0);
  ASSERT_EQ(::symlink((other / "private").c_str(), (other / "link").c_str()), 0);
  struct Row {
    std::string name;
    std::string root;     // the work root under other
    std::string refusal;  // empty: used
  } rows[] = {{"shared", "shared", "Permission denied"},
              {"foreign", "foreign", "Operation not permitted"},
              {"link", "link", "Not a directory"},
              {"fresh", "fresh", ""},
              {"sticky", "sticky" + own, ""},
              {"taken", "taken" + own, "Operation not permitted"}};
  for (const Row& row : rows) {
    TempDirOverride tmpdir(other / row.name);
    EXPECT_EQ(NewFolderPath(), row.refusal.empty()
                                   ? other / row.root + "/TAVU/00000000"
                                   : "failed: " + other / row.root + ": " + row.refusal);
    EXPECT_EQ(Exists(other / row.root + "/TAVU"), row.refusal.empty()) << row.name;
    if (row.root != row.name) {
      EXPECT_FALSE(Exists(other / row.name + "/TAVU")) << row.name;
    }
  }
  struct stat info;
  for (const std::string& made : {other / "fresh", other / "sticky" + own}) {
    ASSERT_EQ(::stat(made.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u) << made;
  }
  EXPECT_FALSE(Exists(other / "private/TAVU"));
}

// Numbers go on from the last one handed out: a freed number is not probed for again, and a
// root met for the first time starts past the highest number already there, so a new folder
// takes one mkdir however many are left over.
TEST_F(TempWorkspaceTest, RequestFolderNumbersGoOnFromTheLastOne) {
  EXPECT_EQ(NewFolderPath(), Root() + "/00000000");
  EXPECT_EQ(NewFolderPath(), Root() + "/00000001");
  ASSERT_EQ(::rmdir((Root() + "/00000001").c_str()), 0);
  EXPECT_EQ(NewFolderPath(), Root() + "/00000002");

  ScratchFolder base;
  ASSERT_EQ(::mkdir((base / "TAVU").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((base / "TAVU/0000002a").c_str(), 0700), 0);
  WriteFile(base / "TAVU/00000000", "leftover");
  EXPECT_EQ(NewFolderPath(base.path()), base / "TAVU/0000002b");
  EXPECT_EQ(scratch::ReadFile(base / "TAVU/00000000"), "leftover");
}

TEST_F(TempWorkspaceTest, RootThatIsAFileGivesNoFolder) {
  WriteFile(Root(), "not a folder");
  EXPECT_EQ(NewFolderPath(), "failed: " + Root() + ": Not a directory");
}

// Under a base the page names: its TAVU must be the user's own folder, never a link.
TEST_F(TempWorkspaceTest, NewTempFolderUnderUsesTheBaseElseTheWorkRoot) {
  ScratchFolder base;
  EXPECT_EQ(NewFolderPath(base.path()), base.path() + "/TAVU/00000000");
  EXPECT_EQ(NewFolderPath(base.path() + "/"), base.path() + "/TAVU/00000001");
  ScratchFolder file_root;
  WriteFile(file_root / "TAVU", "a file where the root should be");
  ScratchFolder link_root;
  ASSERT_EQ(::symlink(base.path().c_str(), (link_root / "TAVU").c_str()), 0);
  ScratchFolder foreign_root;
  ASSERT_EQ(::mkdir((foreign_root / "TAVU").c_str(), 0777), 0);
  ASSERT_EQ(::chown((foreign_root / "TAVU").c_str(), 65534, 65534), 0);
  int n = 0;
  for (const std::string& fallback :
       {file_root.path(), link_root.path(), foreign_root.path(), base / "missing/deeper"}) {
    EXPECT_EQ(NewFolderPath(fallback), Root() + "/0000000" + std::to_string(n++)) << fallback;
  }
  EXPECT_EQ(scratch::CountEntries(base / "TAVU"), 2);
}

TEST_F(TempWorkspaceTest, ConcurrentRequestsNeverShareAFolder) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 40;
  std::vector<std::vector<std::string>> made(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&made, t] {
      for (int i = 0; i < kPerThread; ++i) made[t].push_back(NewFolderPath());
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<std::string> distinct;
  for (const auto& list : made) distinct.insert(list.begin(), list.end());
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kPerThread));
  EXPECT_EQ(*distinct.rbegin(), Root() + "/0000013f");  // 320 folders: 0 .. 0x13f
}

TEST(TimestampPrefixTest, HoldsLocalTimeToTheMinuteMillisecondsAndEightRandomChars) {
  time_t before = time(nullptr);
  std::string prefix = TimestampPrefix();
  ASSERT_TRUE(std::regex_match(prefix, std::regex("[0-9]{15}_[0-9A-Z]{8}"))) << prefix;
  struct tm local;
  localtime_r(&before, &local);
  char expected[48];
  std::snprintf(expected, sizeof expected, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
  EXPECT_EQ(prefix.substr(0, 8), expected);
  EXPECT_LT(std::stoi(prefix.substr(12, 3)), 1000);  // milliseconds, not seconds
}

TEST_F(TempWorkspaceTest, TempFileNameCreatesTheFolderButNotTheFile) {
  std::string folder = temp_ / "names";
  std::string name = TempFileName(folder);
  EXPECT_TRUE(std::regex_match(name, std::regex(folder + "/[0-9]{15}_[0-9A-Z]{8}\\.tmp"))) << name;
  EXPECT_TRUE(IsFolder(folder));
  EXPECT_FALSE(Exists(name));
  EXPECT_EQ(TempFileName(""), "");
  EXPECT_EQ(TempFileName(folder + "/").substr(0, folder.size() + 2), folder + "/2");
}

TEST_F(TempWorkspaceTest, UniqueFilePathNormalisesTheExtension) {
  std::string folder = temp_ / "deep/er";
  for (const char* ext : {"png", ".png"}) {
    std::string path = UniqueFilePath(folder, ext);
    EXPECT_TRUE(std::regex_match(path, std::regex(folder + "/[0-9]{15}_[0-9A-Z]{8}\\.png")))
        << path;
  }
  std::string bare = UniqueFilePath(folder, "");
  EXPECT_TRUE(std::regex_match(bare, std::regex(folder + "/[0-9]{15}_[0-9A-Z]{8}"))) << bare;
  EXPECT_EQ(UniqueFilePath("", "png"), "");
}

TEST_F(TempWorkspaceTest, UniqueFilePathKeepsDotTmpFoldersAbove) {
  std::string folder = temp_ / ".tmp/x.tmp";
  std::string path = UniqueFilePath(folder, "html");
  EXPECT_EQ(path.substr(0, folder.size() + 1), folder + "/");
  EXPECT_EQ(path.substr(path.size() - 5), ".html");
  WriteFile(path, "<p>");
  EXPECT_TRUE(Exists(path));
}

TEST_F(TempWorkspaceTest, MakeUniqueCountsPastExistingNames) {
  WriteFile(temp_ / "a.html", "");
  std::string path = temp_ / "a.html";
  MakeUnique(path);
  EXPECT_EQ(path, temp_ / "a_00000000.html");
  WriteFile(path, "");
  path = temp_ / "a.html";
  MakeUnique(path);
  EXPECT_EQ(path, temp_ / "a_00000001.html");

  ::mkdir((temp_ / "notes").c_str(), 0700);
  path = temp_ / "notes";
  MakeUnique(path);
  EXPECT_EQ(path, temp_ / "notes_00000000");

  ::symlink("/nonexistent/target", (temp_ / "dangling.png").c_str());
  path = temp_ / "dangling.png";
  MakeUnique(path);
  EXPECT_EQ(path, temp_ / "dangling_00000000.png");
}

TEST_F(TempWorkspaceTest, MakeUniqueRules) {
  ::mkdir((temp_ / "my.folder").c_str(), 0700);
  WriteFile(temp_ / "my.folder/notes", "");
  struct Row {
    std::string in;
    std::string out;
  } const rows[] = {
      {"https://example.com/a.html", "https://example.com/a.html"},
      {"file:///x/a.html", "file:///x/a.html"},
      {"", ""},
      {temp_ / "free.tmp.html", temp_ / "free.html"},
      {temp_ / "my.folder/notes", temp_ / "my.folder/notes_00000000"},
  };
  for (const Row& row : rows) {
    std::string path = row.in;
    MakeUnique(path);
    EXPECT_EQ(path, row.out) << row.in;
  }
}

TEST(ResourceFolderPathTest, ReplacesTheExtensionOfTheLastComponent) {
  struct Row {
    const char* in;
    const char* out;
  } const rows[] = {
      {"/x/a_00000000.html", "/x/a_00000000.files"},
      {"/x/a.b.html", "/x/a.b.files"},
      {"/x.y/notes", "/x.y/notes.files"},
      {"a.html", "a.files"},
      {"", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(ResourceFolderPath(row.in), row.out) << row.in;
}

TEST_F(TempWorkspaceTest, PrepareUnderBuildsAllThreeNames) {
  ScratchFolder base;
  TempWorkspace workspace;
  workspace.PrepareUnder(base.path(), "");
  EXPECT_EQ(workspace.Folder(), base.path() + "/TAVU/00000000");
  std::string doc = workspace.DocumentPath();
  EXPECT_EQ(doc.substr(0, workspace.Folder().size() + 1), workspace.Folder() + "/");
  EXPECT_EQ(doc.substr(doc.size() - 5), ".html");
  EXPECT_EQ(workspace.ResourceFolder(), doc.substr(0, doc.size() - 5) + ".files");
  EXPECT_FALSE(Exists(workspace.ResourceFolder()));
  EXPECT_EQ(workspace.EnsureResourceFolder(), workspace.ResourceFolder());
  EXPECT_TRUE(IsFolder(workspace.ResourceFolder()));

  TempWorkspace in_temp;
  in_temp.PrepareUnder("", ".med");
  EXPECT_EQ(in_temp.Folder(), Root() + "/00000000");
  EXPECT_EQ(in_temp.DocumentPath().substr(in_temp.DocumentPath().size() - 4), ".med");
}

TEST_F(TempWorkspaceTest, PrepareForKeepsAGivenPathOrMakesAFolder) {
  TempWorkspace given;
  given.PrepareFor("/docs/eq.med", ".html");
  EXPECT_EQ(given.Folder(), "");
  EXPECT_EQ(given.DocumentPath(), "/docs/eq.med");
  EXPECT_EQ(given.ResourceFolder(), "/docs/eq.files");

  TempWorkspace fresh;
  ASSERT_TRUE(fresh.PrepareFor("", ".med").ok());
  EXPECT_EQ(fresh.Folder(), Root() + "/00000000");
  EXPECT_EQ(fresh.DocumentPath().substr(fresh.DocumentPath().size() - 4), ".med");
}

TEST_F(TempWorkspaceTest, ListResourceImagesGoesByContentAndListedExtension) {
  TempWorkspace workspace;
  workspace.PrepareUnder("", "");
  std::string folder = workspace.EnsureResourceFolder();
  WriteFile(folder + "/A.PNG", scratch::TinyPng());
  WriteFile(folder + "/b.jpg", "not an image at all");
  WriteFile(folder + "/c.gif", scratch::TinyPng());  // an image, but gif is not listed
  WriteFile(folder + "/d.webp", std::string("RIFF\x10\0\0\0WEBPVP8 ", 16));
  ::mkdir((folder + "/e.png").c_str(), 0700);
  ::symlink((folder + "/A.PNG").c_str(), (folder + "/f.png").c_str());

  std::vector<std::string> out = {"kept"};
  EXPECT_TRUE(workspace.ListResourceImages("jpg||png|webp", out));
  std::sort(out.begin() + 1, out.end());
  EXPECT_EQ(out, (std::vector<std::string>{"kept", folder + "/A.PNG", folder + "/d.webp"}));

  std::vector<std::string> none;
  EXPECT_FALSE(workspace.ListResourceImages("", none));
  EXPECT_FALSE(workspace.ListResourceImages("bmp", none));
  EXPECT_TRUE(none.empty());
}

}  // namespace
