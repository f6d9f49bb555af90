#include "service/origin_allowlist.h"

#include <gtest/gtest.h>

#include "support/scratch_folder.h"

namespace {

TEST(OriginAllowlist, MatchesListedOriginsOnly) {
  const OriginAllowlist list = OriginAllowlist::FromText(
      "# editor pages\n\n  https://Editor.example/ "
      "\r\nhttp://localhost:8080\nhttps://b.example:443\n");
  struct Row {
    bool has_origin;
    const char* origin;
    bool allowed;
    const char* fetch_site = "";
  } const rows[] = {
      {true, "https://editor.example", true},
      {true, "HTTPS://EDITOR.EXAMPLE", true},
      {true, "https://editor.example:443", true},
      {true, "http://editor.example", false},
      {true, "https://editor.example:8443", false},
      {true, "https://editor.example.evil", false},
      {true, "https://sub.editor.example", false},
      {true, "http://localhost:8080", true},
      {true, "http://localhost", false},
      {true, "https://b.example", true},
      {true, "null", false},
      {true, "", false},
      {true, "# editor pages", false},
      {false, "", true},  // not sent by a page's script
      // a foreign page's <img> or link: no Origin, but marked by the browser
      {false, "", false, "cross-site"},
      {false, "", false, "Cross-Site"},
      {false, "", true, "same-origin"},
      {false, "", true, "none"},  // typed into the address bar
      {true, "https://editor.example", true, "cross-site"},
  };
  EXPECT_TRUE(list.restricted());
  EXPECT_EQ(list.size(), 3u);
  for (const Row& row : rows) {
    EXPECT_EQ(list.Allows(row.has_origin, row.origin, row.fetch_site), row.allowed)
        << row.origin << " " << row.fetch_site;
  }
}

TEST(OriginAllowlist, MissingFileAllowsAllAndUnreadableFileAllowsNone) {
  scratch::ScratchFolder folder;
  OriginAllowlist missing = OriginAllowlist::Load(folder / "allowed-origins");
  EXPECT_FALSE(missing.restricted());
  EXPECT_TRUE(missing.Allows(true, "https://anything.example"));

  scratch::WriteFile(folder / "allowed-origins", "https://editor.example\n");
  OriginAllowlist listed = OriginAllowlist::Load(folder / "allowed-origins");
  EXPECT_TRUE(listed.Allows(true, "https://editor.example"));
  EXPECT_FALSE(listed.Allows(true, "https://anything.example"));

  std::filesystem::create_directory(folder / "folder");
  OriginAllowlist broken = OriginAllowlist::Load(folder / "folder");
  EXPECT_TRUE(broken.restricted());
  EXPECT_FALSE(broken.Allows(true, "https://editor.example"));
}

}  // namespace
