#include "workspace/path_macros.h"

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "support/scratch_folder.h"

namespace {

// Sets environment variables for one test and restores them afterwards.
class EnvironmentOverride {
 public:
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old != nullptr, old != nullptr ? old : ""});
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvironmentOverride() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->had) {
        ::setenv(it->name.c_str(), it->value.c_str(), 1);
      } else {
        ::unsetenv(it->name.c_str());
      }
    }
  }

 private:
  struct Saved {
    std::string name;
    bool had;
    std::string value;
  };
  std::vector<Saved> saved_;
};

class PathMacrosTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Set("HOME", home_.path().c_str());
    env_.Set("XDG_CONFIG_HOME", nullptr);
    env_.Set("XDG_DATA_HOME", nullptr);
  }
  scratch::ScratchFolder home_;
  EnvironmentOverride env_;
};

TEST_F(PathMacrosTest, ExpandsMacrosToXdgFolders) {
  const std::string home = home_.path();
  struct Row {
    std::string in;
    std::string out;
  } const rows[] = {
      {"$APPDATA/Cache/tmp", home + "/.config/Cache/tmp/"},
      {"$appdata", home + "/.config/"},
      {"$LOCAL_APPDATA/x", home + "/.local/share/x/"},
      {"$MyDocuments/", home + "/Documents/"},
      {"$PROFILE/a/b/", home + "/a/b/"},
      {"$PROGRAM_FILES/OrvoEditor", "/opt/OrvoEditor/"},
      {"/srv/data", "/srv/data/"},
      {"/", "/"},
      {"", ""},
      {"work/tmp", ""},
      {"$TEMP/x", ""},
      {"$APPDATAX/x", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(ExpandPathMacros(row.in), row.out) << row.in;
}

TEST_F(PathMacrosTest, HonoursXdgVariablesAndUserDirs) {
  env_.Set("XDG_CONFIG_HOME", (home_ / "cfg").c_str());
  env_.Set("XDG_DATA_HOME", "relative/ignored");
  ::mkdir((home_ / "cfg").c_str(), 0700);
  scratch::WriteFile(home_ / "cfg/user-dirs.dirs",
                     "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desk\"\n"
                     "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
  EXPECT_EQ(ExpandPathMacros("$APPDATA/c"), home_ / "cfg/c/");
  EXPECT_EQ(ExpandPathMacros("$LOCAL_APPDATA"), home_ / ".local/share/");
  EXPECT_EQ(ExpandPathMacros("$MYDOCUMENTS/t"), home_ / "Dokumente/t/");

  scratch::WriteFile(home_ / "cfg/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n");
  EXPECT_EQ(ExpandPathMacros("$MYDOCUMENTS"), "/srv/docs/");
}

TEST(GetFileKindTest, JudgesByTheMediaTypeOfTheExtension) {
  struct Row {
    const char* path;
    FileKind kind;
  } const rows[] = {
      {"clip.SWF", FileKind::kFlash},     {"/x/a.swf", FileKind::kFlash},
      {"/x/a.png", FileKind::kImage},     {"/x/A.JPG", FileKind::kImage},
      {"b.gif", FileKind::kImage},        {"c.bmp", FileKind::kImage},
      {"d.mp3", FileKind::kAudio},        {"e.wav", FileKind::kAudio},
      {"f.mp4", FileKind::kVideo},        {"g.avi", FileKind::kVideo},
      {"h.txt", FileKind::kOther},        {"i.docx", FileKind::kOther},
      {"/x.png/noext", FileKind::kOther}, {"", FileKind::kOther},
      {"j.unknownext", FileKind::kOther},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(static_cast<int>(GetFileKind(row.path)), static_cast<int>(row.kind)) << row.path;
  }
}

TEST(PathPartsTest, NameExtensionAndFileUrls) {
  const struct {
    const char* path;
    const char* folder;
    const char* name;
    const char* extension;
  } rows[] = {
      {"/x/report.html", "/x/", "report.html", ".html"}, {"report", "", "report", ""},
      {"/x/", "/x/", "", ""},           {"/a", "/", "a", ""},
      {"/x.y/a.b.PNG", "/x.y/", "a.b.PNG", ".PNG"},     {"/x.y/notes", "/x.y/", "notes", ""},
      {"a/b.png?x=1", "a/", "b.png?x=1", ".png?x=1"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(FolderPart(row.path), row.folder);
    EXPECT_EQ(FileNamePart(row.path), row.name);
    EXPECT_EQ(FileExtension(row.path), row.extension);
  }
  // A '\' ends a folder only where the caller says names may come from Windows.
  EXPECT_EQ(FileNamePart("a\\b/c\\d.png", PathSeparators::kSlashOrBackslash), "d.png");
  EXPECT_EQ(FileNamePart("a/c\\d.png"), "c\\d.png");
  EXPECT_EQ(RemoveFileUrl("file:///home/a.png"), "/home/a.png");
  EXPECT_EQ(RemoveFileUrl("file:///home/my%20pics/a.png"), "/home/my%20pics/a.png");
  EXPECT_EQ(RemoveFileUrl("x file:///a file:///b"), "x /a /b");
  EXPECT_EQ(RemoveFileUrl("/plain/path"), "/plain/path");
  EXPECT_EQ(EditorDataFolder(), "/opt/OrvoEditor");
}

}  // namespace
