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
  EXPECT_EQ(list.size(), 3u);
  for (const Row& row : rows) {
    EXPECT_EQ(list.Allows(row.has_origin, row.origin, row.fetch_site), row.allowed)
        << row.origin << " " << row.fetch_site;
  }
}

TEST(OriginAllowlist, StarAllowsEveryOriginAndRequest) {
  const OriginAllowlist list = OriginAllowlist::FromText("https://editor.example\n*\n");
  EXPECT_TRUE(list.Allows(true, "https://anything.example"));
  EXPECT_TRUE(list.Allows(true, "null"));
  EXPECT_TRUE(list.Allows(false, "", "cross-site"));
}

TEST(OriginAllowlist, MissingFileIsNoListAndUnreadableFileAllowsNone) {
  scratch::ScratchFolder folder;
  EXPECT_FALSE(OriginAllowlist::Load(folder / "allowed-origins"));

  scratch::WriteFile(folder / "allowed-origins", "https://editor.example\n");
  std::optional<OriginAllowlist> listed = OriginAllowlist::Load(folder / "allowed-origins");
  ASSERT_TRUE(listed);
  EXPECT_TRUE(listed->Allows(true, "https://editor.example"));
  EXPECT_FALSE(listed->Allows(true, "https://anything.example"));

  std::filesystem::create_directory(folder / "folder");
  std::optional<OriginAllowlist> broken = OriginAllowlist::Load(folder / "folder");
  ASSERT_TRUE(broken);
  EXPECT_FALSE(broken->Allows(true, "https://editor.example"));
}

}  // namespace
