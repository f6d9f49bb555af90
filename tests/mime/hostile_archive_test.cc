// Archives that are broken or hostile: a clear result, nothing lost that was whole, nothing
// written outside the folder, nothing overwritten.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "mime/decode_into.h"
#include "gmime_setup.h"
#include "support/scratch_folder.h"

namespace {

using scratch::ReadFile;
using scratch::ScratchFolder;
using Files = std::map<std::string, std::string>;

Files FolderContents(const std::string& folder) {
  Files contents;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    contents[entry.path().filename().string()] = ReadFile(entry.path().string());
  }
  return contents;
}

std::string Part(const std::string& headers, const std::string& body) {
  return "--b\r\n" + headers + "\r\n" + body + "\r\n";
}

std::string Related(const std::string& parts, bool closed = true) {
  return "Content-Type: multipart/related; boundary=b\r\n\r\n" + parts +
         (closed ? "--b--\r\n" : "");
}

const int kManyParts = 10000;
const std::string kPage = Part("Content-Type: text/html\r\n", "<p>page</p>");

std::string Location(const std::string& where) {
  return "Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\nContent-Location: " +
         where + "\r\n";
}

std::string Nested(int depth) {
  std::string archive;
  for (int i = 0; i < depth; ++i) {
    archive += "--b" + std::to_string(i) + "\r\nContent-Type: multipart/mixed; boundary=b" +
               std::to_string(i + 1) + "\r\n\r\n";
  }
  archive += "--b" + std::to_string(depth) + "\r\nContent-Type: text/html\r\n\r\n<p>deep</p>\r\n";
  return "Content-Type: multipart/mixed; boundary=b0\r\n\r\n" + archive;
}

struct HostileRow {
  const char* name;
  std::string archive;
  bool page_written;
  std::function<void(const Files&)> check;
};

TEST(HostileArchive, ClearResultsAndNothingOutsideTheFolder) {
  mimecodec::EnsureGMime();
  std::string many;
  for (int i = 0; i < kManyParts; ++i)
    many += Part(Location("p" + std::to_string(i) + ".png"), "AA==");
  const std::string long_name(10000, 'a');
  const HostileRow rows[] = {
      {"no boundary parameter",
       "Content-Type: multipart/related\r\n\r\n--x\r\nContent-Type: text/html\r\n\r\n<p>a</p>\r\n",
       false, [](const Files& files) { EXPECT_TRUE(files.empty()); }},
      {"no closing boundary keeps the whole parts",
       Related(kPage + Part(Location("a.png"), "QUJD"), false), true,
       [](const Files& files) {
         EXPECT_EQ(files.at("noname.htm"), "<p>page</p>");
         EXPECT_EQ(files.at("a.png"), "ABC");
       }},
      {"bad base64 decodes what is valid",
       Related(kPage + Part(Location("a.png"), "QU!!J*D\r\nRE\x01VG")), true,
       [](const Files& files) { EXPECT_EQ(files.at("a.png"), "ABCDEF"); }},
      {"bad quoted-printable keeps what it cannot decode",
       Related(Part("Content-Type: text/html\r\nContent-Transfer-Encoding: quoted-printable\r\n",
                    "<p>=ZZ=3D=4</p>")),
       true, [](const Files& files) { EXPECT_EQ(files.at("noname.htm"), "<p>=ZZ==4</p>"); }},
      {"names that try to leave the folder, take the page's name, or collide",
       Related(kPage + Part(Location("../../x.png"), "QQ==") +
               Part(Location("/etc/x.png"), "Qg==") + Part(Location("C:\\x.png"), "Qw==") +
               Part(Location("noname.htm"), "RA==") + Part(Location("NONAME.HTM"), "RQ==") +
               Part(Location(long_name), "Rg==") +
               Part(Location("a\x01"
                             "b.png"),
                    "Rw==") +
               Part(Location(".."), "SA==") + Part(Location("%2e%2e%2fy.png"), "SQ==")),
       true,
       [&](const Files& files) {
         EXPECT_EQ(files, (Files{{"noname.htm", "<p>page</p>"},
                                 {"x.png", "A"},
                                 {"x_1.png", "B"},
                                 {"x_2.png", "C"},
                                 {"noname_1.htm", "D"},
                                 {"NONAME_2.HTM", "E"},
                                 {std::string(196, 'a') + ".png", "F"},
                                 {"a_b.png", "G"},
                                 {"part.png", "H"},
                                 {".._y.png", "I"}}));
       }},
      {"ten thousand tiny parts", Related(kPage + many), true,
       [](const Files& files) {
         EXPECT_EQ(files.size(), 10001u);
         EXPECT_EQ(files.at("p9999.png"), std::string(1, '\0'));
       }},
      {"no html part", Related(Part(Location("a.png"), "QQ==")), false,
       [](const Files& files) { EXPECT_TRUE(files.empty()); }},
      {"undeclared charset leaves the bytes to the service's text decoder",
       Related(Part("Content-Type: text/html\r\n", "<p>\xB0\xA1</p>")), true,
       [](const Files& files) { EXPECT_EQ(files.at("noname.htm"), "<p>\xB0\xA1</p>"); }},
      {"unknown charset leaves the bytes as well",
       Related(Part("Content-Type: text/html; charset=x-no-such\r\n"
                    "Content-Transfer-Encoding: quoted-printable\r\n",
                    "<p>=B0=A1</p>")),
       true, [](const Files& files) { EXPECT_EQ(files.at("noname.htm"), "<p>\xB0\xA1</p>"); }},
      {"a header line of one megabyte",
       Related(Part("X-Long: " + std::string(1 << 20, 'h') + "\r\nContent-Type: text/html\r\n",
                    "<p>long</p>")),
       true, [](const Files& files) { EXPECT_EQ(files.at("noname.htm"), "<p>long</p>"); }},
      {"nesting within the bound", Nested(60), true,
       [](const Files& files) { EXPECT_EQ(files.at("noname.htm"), "<p>deep</p>\r\n"); }},
      {"nesting beyond the bound is not read", Nested(100), false,
       [](const Files& files) { EXPECT_TRUE(files.empty()); }},
  };
  for (const HostileRow& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchFolder parent;
    std::string folder = parent / "request";
    std::filesystem::create_directory(folder);
    EXPECT_EQ(DecodeInto(row.archive, folder), row.page_written);
    Files files = FolderContents(folder);
    for (const auto& [name, content] : files) EXPECT_LE(name.size(), 200u) << name;
    row.check(files);
    EXPECT_EQ(scratch::CountEntries(parent.path()), 1);
  }
}

TEST(HostileArchive, NeverOverwritesNorWritesThroughALink) {
  mimecodec::EnsureGMime();
  ScratchFolder outside;
  ScratchFolder folder;
  scratch::WriteFile(outside / "target", "theirs");
  scratch::WriteFile(folder / "x.png", "mine");
  ASSERT_EQ(::symlink((outside / "target").c_str(), (folder / "y.png").c_str()), 0);
  std::string archive =
      Related(kPage + Part(Location("x.png"), "QQ==") + Part(Location("y.png"), "Qg=="));
  ASSERT_TRUE(DecodeInto(archive, folder.path()));
  EXPECT_EQ(ReadFile(folder / "x.png"), "mine");
  EXPECT_EQ(ReadFile(outside / "target"), "theirs");
  EXPECT_EQ(ReadFile(folder / "x_1.png"), "A");
  EXPECT_EQ(ReadFile(folder / "y_1.png"), "B");
  // A page file already there is not replaced either: the decode reports failure instead.
  EXPECT_FALSE(DecodeInto(Related(kPage), folder.path()));
  EXPECT_EQ(ReadFile(folder / "noname.htm"), "<p>page</p>");
}

}  // namespace
