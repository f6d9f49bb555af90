#include "workspace/folder_deletion.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>

#include "support/scratch_folder.h"
#include "workspace/temp_workspace.h"

namespace {

using scratch::Exists;
using scratch::ScratchFolder;
using scratch::StdoutCapture;
using scratch::WriteFile;

void MakeFolder(const std::string& path) { ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << path; }

TEST(DeleteTreeTest, RemovesEverythingDepthFirstWithOneLineEach) {
  ScratchFolder temp;
  std::string top = temp / "req";
  MakeFolder(top);
  MakeFolder(top + "/sub");
  WriteFile(top + "/sub/inner.png", "x");
  StdoutCapture capture;
  EXPECT_TRUE(DeleteTree(top));
  EXPECT_EQ(capture.Text(), "\n DeleteFile : [ " + top + "/sub/inner.png ]" +
                                "\n RemoveDirectory : [ " + top + "/sub ]" +
                                "\n RemoveDirectory : [ " + top + " ]");
  EXPECT_FALSE(Exists(top));
}

TEST(DeleteTreeTest, FolderOfManyFilesLogsEveryLineOnceAndTheFolderLast) {
  ScratchFolder temp;
  std::string top = temp / "req";
  MakeFolder(top);
  const int kFiles = 600;  // more lines than the log takes at once
  for (int k = 0; k < kFiles; ++k) WriteFile(top + "/" + std::to_string(k), "x");
  StdoutCapture capture;
  EXPECT_TRUE(DeleteTree(top));
  std::string text = capture.Text();
  std::string last = "\n RemoveDirectory : [ " + top + " ]";
  ASSERT_GE(text.size(), last.size());
  EXPECT_EQ(text.substr(text.size() - last.size()), last);
  for (int k = 0; k < kFiles; ++k) {
    std::string line = "\n DeleteFile : [ " + top + "/" + std::to_string(k) + " ]";
    size_t at = text.find(line);
    ASSERT_NE(at, std::string::npos) << k;
    EXPECT_EQ(text.find(line, at + 1), std::string::npos) << k;
  }
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), kFiles + 1);
}

TEST(DeleteTreeTest, MissingFolderLogsOnlyTheFailedRemoval) {
  ScratchFolder temp;
  StdoutCapture capture;
  EXPECT_TRUE(DeleteTree(temp / "gone"));
  EXPECT_EQ(capture.Text(), "\n Failed to RemoveDirectory : [ " + temp / "gone" + " ]");
  EXPECT_FALSE(DeleteTree(""));
}

TEST(DeleteTreeTest, NeverFollowsLinksOutOfTheFolder) {
  ScratchFolder temp;
  ScratchFolder outside;
  WriteFile(outside / "precious.txt", "keep me");
  std::string top = temp / "req";
  MakeFolder(top);
  ASSERT_EQ(::symlink(outside.path().c_str(), (top + "/link").c_str()), 0);
  ASSERT_EQ(::symlink((outside / "precious.txt").c_str(), (top + "/file-link").c_str()), 0);
  StdoutCapture capture;
  DeleteTree(top);
  capture.Text();
  EXPECT_FALSE(Exists(top));
  EXPECT_EQ(scratch::ReadFile(outside / "precious.txt"), "keep me");

  // A link given as the folder itself is not entered either.
  ASSERT_EQ(::symlink(outside.path().c_str(), (temp / "alias").c_str()), 0);
  StdoutCapture again;
  DeleteTree(temp / "alias");
  EXPECT_EQ(again.Text(), "\n Failed to RemoveDirectory : [ " + temp / "alias" + " ]");
  EXPECT_EQ(scratch::ReadFile(outside / "precious.txt"), "keep me");
}

TEST(DeleteFolderOfTest, FilePathRemovesItsFolder) {
  ScratchFolder temp;
  std::string folder = temp / "req";
  MakeFolder(folder);
  WriteFile(folder + "/a.html", "a");
  WriteFile(folder + "/b.png", "b");
  StdoutCapture capture;
  EXPECT_TRUE(DeleteFolderOf("file://" + folder + "/a.html"));
  std::string log = capture.Text();
  EXPECT_NE(log.find("\n DeleteFile : [ " + folder + "/a.html ]"), std::string::npos) << log;
  EXPECT_NE(log.find("\n DeleteFile : [ " + folder + "/b.png ]"), std::string::npos) << log;
  EXPECT_EQ(log.substr(log.rfind('\n')), "\n RemoveDirectory : [ " + folder + " ]");
  EXPECT_FALSE(Exists(folder));
}

TEST(DeleteFolderOfTest, SubFolderStaysWithFailureLines) {
  ScratchFolder temp;
  std::string folder = temp / "req";
  MakeFolder(folder);
  MakeFolder(folder + "/sub");
  StdoutCapture capture;
  EXPECT_FALSE(DeleteFolderOf(folder));
  EXPECT_EQ(capture.Text(), "\n Failed to DeleteFile : [ " + folder + "/sub ]" +
                                "\n Failed to RemoveDirectory : [ " + folder + " ]");
  EXPECT_TRUE(Exists(folder + "/sub"));
}

TEST(DeleteFolderOfTest, MissingPathsDeleteNothingAndSayNothing) {
  ScratchFolder temp;
  StdoutCapture capture;
  EXPECT_FALSE(DeleteFolderOf(temp / "gone/a.png"));
  EXPECT_FALSE(DeleteFolderOf(""));
  EXPECT_FALSE(DeleteFolderOf("relative.png"));  // would be the working folder
  EXPECT_EQ(capture.Text(), "");
}

TEST(DeleteFolderOfTest, GoneRequestFolderLeavesTheSharedRootAlone) {
  ScratchFolder temp;
  scratch::TempDirOverride tmpdir(temp.path());
  std::unique_ptr<HeldFolder> held_first;
  std::unique_ptr<HeldFolder> held_second;
  ASSERT_TRUE(NewTempFolder(held_first).ok());
  ASSERT_TRUE(NewTempFolder(held_second).ok());
  std::string first = held_first->Path();
  std::string second = held_second->Path();
  WriteFile(second + "/other-request.png", "busy");
  WriteFile(temp / "TAVU/stray.txt", "stray");
  StdoutCapture capture;
  EXPECT_TRUE(DeleteFolderOf(first));
  EXPECT_FALSE(DeleteFolderOf(first));  // twice: now a missing path inside the root
  capture.Text();
  EXPECT_TRUE(Exists(temp / "TAVU/stray.txt"));
  EXPECT_TRUE(Exists(second + "/other-request.png"));
}

TEST(DeleteFolderOfTest, RootThatIsAFileNeverEmptiesTheTempFolder) {
  ScratchFolder temp;
  scratch::TempDirOverride tmpdir(temp.path());
  WriteFile(temp / "TAVU", "a file where the root should be");
  WriteFile(temp / "someone-elses.txt", "keep");
  std::unique_ptr<HeldFolder> held;
  ASSERT_FALSE(NewTempFolder(held).ok());
  StdoutCapture capture;
  EXPECT_FALSE(DeleteFolderOf(temp / "TAVU"));
  EXPECT_FALSE(DeleteFolderOf(temp / "TAVU/"));
  EXPECT_EQ(capture.Text(), "");
  EXPECT_TRUE(Exists(temp / "someone-elses.txt"));
  EXPECT_TRUE(Exists(temp / "TAVU"));
}

TEST(DeleteFolderOfTest, LinksInsideAreRemovedNotFollowed) {
  ScratchFolder temp;
  ScratchFolder outside;
  WriteFile(outside / "precious.txt", "keep me");
  std::string folder = temp / "req";
  MakeFolder(folder);
  ASSERT_EQ(::symlink(outside.path().c_str(), (folder + "/dir-link").c_str()), 0);
  StdoutCapture capture;
  EXPECT_TRUE(DeleteFolderOf(folder));
  capture.Text();
  EXPECT_EQ(scratch::ReadFile(outside / "precious.txt"), "keep me");

  // A link named as "the folder" is a file path: its own folder goes, not the target.
  std::string holder = temp / "holder";
  MakeFolder(holder);
  ASSERT_EQ(::symlink(outside.path().c_str(), (holder + "/link").c_str()), 0);
  StdoutCapture again;
  EXPECT_TRUE(DeleteFolderOf(holder + "/link"));
  again.Text();
  EXPECT_FALSE(Exists(holder));
  EXPECT_EQ(scratch::ReadFile(outside / "precious.txt"), "keep me");
}

TEST(DeleteFoldersOfTest, DeletesEachInOrder) {
  ScratchFolder temp;
  MakeFolder(temp / "a");
  MakeFolder(temp / "b");
  WriteFile(temp / "b/x.png", "x");
  StdoutCapture capture;
  DeleteFoldersOf({temp / "a", temp / "b/x.png"});
  EXPECT_EQ(capture.Text(), "\n RemoveDirectory : [ " + temp / "a" + " ]" + "\n DeleteFile : [ " +
                                temp / "b/x.png ]" + "\n RemoveDirectory : [ " + temp / "b" + " ]");
}

}  // namespace
