#include "workspace/whole_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/scratch_folder.h"
#include "workspace/temp_workspace.h"

namespace {

using scratch::ReadFile;
using scratch::ScratchFolder;
using scratch::WriteFile;

TEST(ReadWholeFileTest, ReadsEveryByteAndTerminates) {
  ScratchFolder temp;
  std::string bytes("a\0b\r\n\xFF", 6);
  WriteFile(temp / "f", bytes);
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(temp / "f", contents));
  EXPECT_EQ(contents, bytes);
  EXPECT_EQ(contents.c_str()[6], '\0');
}

TEST(ReadWholeFileTest, EmptyMissingAndFoldersFail) {
  ScratchFolder temp;
  WriteFile(temp / "empty", "");
  std::string contents = "stale";
  EXPECT_FALSE(ReadWholeFile(temp / "empty", contents));
  EXPECT_EQ(contents, "");
  EXPECT_FALSE(ReadWholeFile(temp / "missing", contents));
  EXPECT_FALSE(ReadWholeFile(temp.path(), contents));
  ASSERT_EQ(::mkfifo((temp / "pipe").c_str(), 0600), 0);
  EXPECT_FALSE(ReadWholeFile(temp / "pipe", contents));  // would block without a writer
  EXPECT_FALSE(ReadWholeFile("/dev/zero", contents));
}

TEST(WriteDataFileTest, TextModeWritesCrLfForEveryLineFeed) {
  ScratchFolder temp;
  ASSERT_TRUE(WriteDataFile(temp / "t.html", "<p>\n</p>\r\nend", DataEncoding::kText));
  // As the C runtime's text mode does: an LF already preceded by CR gains another CR.
  EXPECT_EQ(ReadFile(temp / "t.html"), "<p>\r\n</p>\r\r\nend");
  WriteFile(temp / "old", "longer old content");
  ASSERT_TRUE(WriteDataFile(temp / "old", "new", DataEncoding::kText));
  EXPECT_EQ(ReadFile(temp / "old"), "new");
}

TEST(WriteDataFileTest, Base64SkipsLineBreaksAndStopsAtPadding) {
  ScratchFolder temp;
  struct Row {
    std::string text;
    std::string bytes;
  } const rows[] = {
      {"Zm9v\r\nYmFy", "foobar"},
      {"Zm9vYg==", "foob"},
      {"Zm9vYg==Zm9v", "foob"},  // nothing after the first '='
      {"Zm9vYmE=", "fooba"},
      {"  Zg\n=\n=", "f"},
      {"!!!", ""},
      {"Zm9vY", "foo"},            // a lone last character carries no whole byte
      {"Zm9v\xC3\xA9Yg", "foob"},  // bytes outside the alphabet are skipped
  };
  for (const Row& row : rows) {
    ASSERT_TRUE(WriteDataFile(temp / "b.bin", row.text, DataEncoding::kBase64));
    EXPECT_EQ(ReadFile(temp / "b.bin"), row.bytes) << row.text;
  }
}

TEST(WriteDataFileTest, FailsWithoutWritingAnything) {
  ScratchFolder temp;
  EXPECT_FALSE(WriteDataFile("", "x", DataEncoding::kText));
  EXPECT_FALSE(WriteDataFile(temp / "missing/f.txt", "x", DataEncoding::kText));
  EXPECT_FALSE(scratch::Exists(temp / "missing"));
}

TEST(WriteDataFileTest, WorkspaceFormWritesTheDocument) {
  ScratchFolder temp;
  scratch::TempDirOverride tmpdir(temp.path());
  TempWorkspace workspace;
  ASSERT_TRUE(workspace.PrepareUnder("", ".html").ok());
  ASSERT_TRUE(WriteDataFile(workspace, "a\nb", DataEncoding::kText));
  EXPECT_EQ(ReadFile(workspace.DocumentPath()), "a\r\nb");
}

}  // namespace
