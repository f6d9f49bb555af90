#include "platform/file_version.h"

#include <gtest/gtest.h>

#include <string>

#include "support/executable_images.h"
#include "support/scratch_folder.h"

namespace {

using testing_images::MakeElfWithNote;
using testing_images::MakePeWithVersion;
using testing_images::WriteBytes;

class FileVersionTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = scratch_.Path(name);
    EXPECT_TRUE(WriteBytes(path, bytes));
    return path;
  }
  scratch::ScratchFolder scratch_;
  const std::string& dir_ = scratch_.path();
};

TEST_F(FileVersionTest, ReadsTheStampedNoteOfTheServiceExecutable) {
  EXPECT_EQ(FileVersionOf(ORVO_SERVICE_EXECUTABLE), ORVO_PROJECT_VERSION);
}

TEST_F(FileVersionTest, ElfWithoutTheNoteHasNoVersion) {
  // This test program is an ordinary ELF executable: it has notes, but not ours.
  EXPECT_EQ(FileVersionOf("/proc/self/exe"), "0.0.0.0");
  EXPECT_EQ(FileVersionOf(Write("other.elf", MakeElfWithNote("GNU", 1, 9, 9, 9, 9))), "0.0.0.0");
  EXPECT_EQ(FileVersionOf(Write("type.elf", MakeElfWithNote("OrvoHTTPS", 2, 9, 9, 9, 9))),
            "0.0.0.0");
}

TEST_F(FileVersionTest, ElfNoteFoundThroughSectionHeaders) {
  EXPECT_EQ(FileVersionOf(Write("a.elf", MakeElfWithNote("OrvoHTTPS", 1, 2, 7, 0, 13))),
            "2.7.0.13");
}

TEST_F(FileVersionTest, PeVersionResourceGivesTheFileVersion) {
  EXPECT_EQ(FileVersionOf(Write("OrvoService.exe", MakePeWithVersion(3, 1, 4, 15))), "3.1.4.15");
  EXPECT_EQ(FileVersionOf(Write("max.exe", MakePeWithVersion(65535, 0, 65535, 1))),
            "65535.0.65535.1");
}

TEST_F(FileVersionTest, PeWithoutVersionResourceHasNoVersion) {
  EXPECT_EQ(FileVersionOf(Write("icon.exe", MakePeWithVersion(3, 1, 4, 15, false))), "0.0.0.0");
}

TEST_F(FileVersionTest, MissingEmptyAndOddFilesHaveNoVersion) {
  EXPECT_EQ(FileVersionOf(""), "0.0.0.0");
  EXPECT_EQ(FileVersionOf(dir_ + "/missing.exe"), "0.0.0.0");
  EXPECT_EQ(FileVersionOf(dir_), "0.0.0.0");  // A folder.
  EXPECT_EQ(FileVersionOf(Write("empty.exe", "")), "0.0.0.0");
  EXPECT_EQ(FileVersionOf(Write("text.exe", "MZ but not really a program")), "0.0.0.0");
}

// Every prefix of a valid file must be refused cleanly: the reader bounds-checks each field.
TEST_F(FileVersionTest, TruncatedFilesNeverReadOutOfBounds) {
  for (const std::string& whole :
       {MakePeWithVersion(1, 2, 3, 4), MakeElfWithNote("OrvoHTTPS", 1, 1, 2, 3, 4)}) {
    for (size_t length = 0; length + 1 < whole.size(); length += 7) {
      std::string path = Write("cut.bin", whole.substr(0, length));
      std::string version = FileVersionOf(path);
      // A cut after the version data but inside the trailing section table still has it.
      EXPECT_TRUE(version == "0.0.0.0" || version == "1.2.3.4") << length;
    }
  }
}

TEST_F(FileVersionTest, HostileOffsetsAreRefused) {
  std::string pe = MakePeWithVersion(1, 2, 3, 4);
  pe[0x3C] = '\xF0';  // e_lfanew far beyond the end.
  pe[0x3F] = '\x7F';
  EXPECT_EQ(FileVersionOf(Write("far.exe", pe)), "0.0.0.0");

  std::string looping = MakePeWithVersion(1, 2, 3, 4);
  // The name-level directory points back at the root: no version, and no endless walk.
  const size_t kRootEntryTarget = 0x200 + 0x18 + 20;
  looping[kRootEntryTarget] = 0;
  EXPECT_EQ(FileVersionOf(Write("loop.exe", looping)), "0.0.0.0");
}

}  // namespace
