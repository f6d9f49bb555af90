#include "word/word_processor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/scratch_folder.h"
#include "word/update_html_command.h"

namespace {

using scratch::ReadFile;
using scratch::ScratchFolder;
using scratch::WriteFile;

void MakeProgram(const std::string& path) {
  WriteFile(path, "#!/bin/sh\n");
  chmod(path.c_str(), 0755);
}

TEST(WordProcessorCommand, PrefersWinwordThenLibreOfficeWithAPrivateProfile) {
  ScratchFolder bin, other, work;
  const std::string document = work / "a b/é \"q\".html";
  const std::string profile = work / "p q";
  MakeProgram(other / "soffice");
  {
    scratch::EnvOverride path("PATH", other.path());
    {
      // No display: LibreOffice could show nothing and would never end.
      scratch::EnvOverride no_wayland("WAYLAND_DISPLAY", ""), no_x("DISPLAY", "");
      EXPECT_EQ(WordProcessorCommand(document, profile),
                (std::vector<std::string>{"winword", document, "-new"}));
    }
    scratch::EnvOverride display("DISPLAY", ":99");
    EXPECT_EQ(WordProcessorCommand(document, profile),
              (std::vector<std::string>{"soffice", "-env:UserInstallation=" + FileUrl(profile),
                                        "--writer", "--norestore", "--nologo", document}));
    // The profile is made for this launch, with the first-start questions answered.
    EXPECT_NE(ReadFile(profile + "/user/registrymodifications.xcu").find("ShowTipOfTheDay"),
              std::string::npos);
    // Without a folder for the profile LibreOffice cannot be started safely.
    EXPECT_EQ(WordProcessorCommand(document, ""),
              (std::vector<std::string>{"winword", document, "-new"}));
  }
  MakeProgram(bin / "winword");
  {
    scratch::EnvOverride path("PATH", bin.path() + ":" + other.path());
    EXPECT_EQ(WordProcessorCommand(document, profile),
              (std::vector<std::string>{"winword", document, "-new"}));
  }
  {
    scratch::EnvOverride path("PATH", work.path());
    EXPECT_EQ(WordProcessorCommand("", profile), (std::vector<std::string>{"winword", "-new"}));
  }
}

TEST(FileUrl, EscapesEverythingButUnreservedCharactersAndSlashes) {
  EXPECT_EQ(FileUrl("/tmp/a b/é%\"#?.x_~-"), "file:///tmp/a%20b/%C3%A9%25%22%23%3F.x_~-");
}

TEST(DocumentText, ReadsUtf16WithAMarkAndCutsAtTheFirstZero) {
  struct Row {
    std::string bytes, text;
  } rows[] = {
      {"<p>a</p>", "<p>a</p>"},
      {std::string("<p>\0tail", 8), "<p>"},
      {std::string("\xFF\xFE<\0\xE9\0\x2D\x4E", 8), "<\xC3\xA9\xE4\xB8\xAD"},
      {std::string("\xFF\xFE"
                   "a\0\0\0b\0",
                   8),
       "a"},
      {"\xFF\xFE", "\xFF\xFE"},                     // the mark alone is not UTF-16 text
      {std::string("\xFE\xFF\0a", 4), "\xFE\xFF"},  // big-endian is not read as UTF-16
  };
  for (const Row& row : rows) EXPECT_EQ(DocumentText(row.bytes), row.text) << row.bytes;
}

}  // namespace
