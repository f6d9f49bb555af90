// The names the decoder gives parts: where each comes from and how it is made safe and unique.
#include "part_names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using mimecodec::DesiredPartName;
using mimecodec::NameRegistry;
using mimecodec::PartNaming;

TEST(PartNames, DesiredNameComesFromTheFirstSourceThatGivesOne) {
  struct Row {
    PartNaming naming;
    std::string expected;
  } const rows[] = {
      {{"https://x.test/a/b%20c.png?v=1#f", "ignored.png", "id@x", "image/png"}, "b c.png"},
      {{"https://x.test/dir/", "file.gif", "", "image/gif"}, "file.gif"},
      {{"", "C:\\Users\\k\\photo", "", "image/jpeg"}, "photo.jpg"},
      {{"", "", "image001.png@01D9.2F", "image/png"}, "image001.png@01D9.2F.png"},
      {{"", "", "<<>>", "text/css"}, "____.css"},
      {{"", "", "", "application/x-unknown"}, "part.bin"},
      {{"file:///C:/k/Doc.files/filelist.xml", "", "", "text/xml"}, "filelist.xml"},
      // Locations written on Windows: the name after the last '\', never a way out.
      {{"file:///C:\\k\\Doc.files\\image001.png", "", "", "image/png"}, "image001.png"},
      {{"..\\..\\etc\\evil.png", "", "", "image/png"}, "evil.png"},
      {{"https://x.test/a%5C..%5Cup.png", "", "", "image/png"}, "a_.._up.png"},
      {{"name. . .", "", "", "image/png"}, "name.png"},
      {{"bad\xFF\xFEutf8.png", "", "", "image/png"}, "bad__utf8.png"},
      {{"cid:frame-7@mhtml.blink", "", "frame-7@mhtml.blink", "text/html"},
       "frame-7@mhtml.blink.htm"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(DesiredPartName(row.naming), row.expected) << row.naming.location;
  }
}

TEST(PartNames, RegistryCutsOnCharacterBoundariesAndCountsWithoutRegardToCase) {
  NameRegistry names;
  std::string korean;  // 70 three-byte characters: 210 bytes
  for (int i = 0; i < 70; ++i) korean += "\xED\x95\x9C";
  std::string first = names.Claim(korean + ".png");
  EXPECT_EQ(first, korean.substr(0, 195) + ".png");  // 65 whole characters
  std::string second = names.Claim(korean + ".png");
  EXPECT_EQ(second, korean.substr(0, 192) + "_1.png");
  EXPECT_EQ(names.Claim("A.png"), "A.png");
  EXPECT_EQ(names.Claim("a.PNG"), "a_1.PNG");
  EXPECT_EQ(names.Claim("a_1.png"), "a_1_1.png");
  EXPECT_EQ(names.Claim("NoName.Htm"), "NoName_1.Htm");
}

}  // namespace
