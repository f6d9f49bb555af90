// Finding the page the codec wrote and the files beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mime/mime_decode_command.h"
#include "support/scratch_folder.h"

namespace {

using scratch::ScratchFolder;

TEST(DecodedPage, SearchOrderIgnoresCaseAndPicksTheFirstNameInByteOrder) {
  struct Row {
    std::vector<std::string> files;
    std::string expected;
  } const rows[] = {
      {{"z.htm", "NONAME.HTM", "a.html"}, "NONAME.HTM"},
      {{"noname.htm", "NoName.htm"}, "NoName.htm"},
      {{"b.HTM", "a.html", "c.txt"}, "b.HTM"},
      {{"b.Html", "a.txt"}, "b.Html"},
      {{"x.png", "b.TXT", "a.txt"}, "a.txt"},
      {{"y.png", "x"}, "x"},
      {{}, ""},
  };
  for (const Row& row : rows) {
    ScratchFolder folder;
    for (const std::string& name : row.files) scratch::WriteFile(folder / name, "<p>");
    std::string expected = row.expected.empty() ? "" : folder / row.expected;
    EXPECT_EQ(FindDecodedPage(folder.path() + "/"), expected) << row.expected;
  }
  EXPECT_EQ(FindDecodedPage(""), "");
}

TEST(DecodedPage, FoldersAndLinksAreNeitherThePageNorListed) {
  ScratchFolder folder;
  std::filesystem::create_directory(folder / "noname.htm");
  scratch::WriteFile(folder / "noname.htm/inner.png", "x");
  scratch::WriteFile(folder / "page.htm", "<p>");
  scratch::WriteFile(folder / "b.png", "b");
  scratch::WriteFile(folder / "a.png", "a");
  std::filesystem::create_symlink("/etc/hostname", folder / "link.png");
  std::string page = FindDecodedPage(folder.path() + "/");
  ASSERT_EQ(page, folder / "page.htm");
  std::vector<std::string> files{"kept"};
  EXPECT_TRUE(CollectDecodedFiles(page, files));
  EXPECT_EQ(files, (std::vector<std::string>{"kept", folder / "a.png", folder / "b.png"}));
}

}  // namespace
