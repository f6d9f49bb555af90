#include "word/word_processor.h"

#include <cstdio>
#include <cstdlib>

#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/log.h"
#include "platform/process.h"
#include "workspace/temp_workspace.h"

namespace {

// Settings a first start would otherwise ask about or show: the start-up tip, the first-run
// state, the release notes of a version seen for the first time. And saving: the document is an
// HTML page and is saved as one, without the "Keep current format?" question on every save.
constexpr char kProfileSettings[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
    "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"FirstRun\" "
    "oor:op=\"fuse\"><value>false</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"ShowTipOfTheDay\" "
    "oor:op=\"fuse\"><value>false</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Save/Document\"><prop "
    "oor:name=\"WarnAlienFormat\" oor:op=\"fuse\"><value>false</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" "
    "oor:op=\"fuse\"><value>999.0</value></prop></item>\n"
    "</oor:items>\n";

void PrepareProfile(const std::string& profile_folder) {
  MakeFolderChain(profile_folder + "/user");
  WriteDataFile(profile_folder + "/user/registrymodifications.xcu", kProfileSettings,
                DataEncoding::kText);
}

// Without a display LibreOffice cannot show the document, and it does not end either: the
// request would wait for ever.
bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    std::optional<std::string> value = EnvironmentVariable(name);
    if (value && !value->empty()) return true;
  }
  return false;
}

std::string ProfileArgument(const std::string& profile_folder) {
  return "-env:UserInstallation=" + FileUrl(profile_folder);
}

std::vector<std::string> WithDocument(std::vector<std::string> argv, const std::string& path) {
  if (!path.empty()) argv.push_back(path);
  return argv;
}

}  // namespace

std::string FileUrl(const std::string& path) {
  std::string url = "file://";
  for (unsigned char c : path) {
    bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (keep) {
      url += static_cast<char>(c);
    } else {
      char escape[4];
      std::snprintf(escape, sizeof(escape), "%%%02X", c);
      url += escape;
    }
  }
  return url;
}

std::vector<std::string> WordProcessorCommand(const std::string& document_path,
                                              const std::string& profile_folder) {
  std::vector<std::string> word = WithDocument({"winword"}, document_path);
  word.push_back("-new");
  if (!FindProgram("winword").empty() || profile_folder.empty() || !HasDisplay()) return word;
  std::vector<std::string> writer;
  if (!FindProgram("soffice").empty()) {
    writer = {"soffice", "--writer"};
  } else if (!FindProgram("lowriter").empty()) {
    writer = {"lowriter"};
  } else {
    return word;
  }
  PrepareProfile(profile_folder);
  writer.insert(writer.begin() + 1, ProfileArgument(profile_folder));
  writer.push_back("--norestore");
  writer.push_back("--nologo");
  return WithDocument(writer, document_path);
}

void EndWordProcessorOf(const std::string& profile_folder) {
  if (!profile_folder.empty()) {
    EndProcessesWithArgument(ProfileArgument(profile_folder), std::chrono::seconds(5));
  }
}

void DeleteWordProcessorProfile(const std::string& profile_folder) {
  FileSystem& fs = FileSystem::Default();
  if (profile_folder.empty() ||
      fs.Status(profile_folder, FollowLinks::kNo).type != FileType::kFolder) {
    return;
  }
  bool deleted_all = true;
  fs.DeleteTree(profile_folder, [&deleted_all](const std::string&, bool, bool deleted) {
    deleted_all = deleted_all && deleted;
  });
  Log(deleted_all ? "\n RemoveDirectory : [ %s ]" : "\n Failed to RemoveDirectory : [ %s ]",
      profile_folder.c_str());
}
