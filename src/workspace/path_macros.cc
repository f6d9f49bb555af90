#include "workspace/path_macros.h"

#include <gio/gio.h>
#include <pwd.h>
#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>

namespace {

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::string HomeFolder() {
  std::string home = EnvironmentValue("HOME");
  if (!home.empty()) return home;
  // Services started without a login environment still have a password-database entry.
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return {};
}

// An XDG base folder: the variable when it holds an absolute path (relative values are invalid
// and ignored by the base-directory rules), else {home}/{fallback}.
std::string XdgFolder(const char* variable, const char* fallback) {
  std::string value = EnvironmentValue(variable);
  if (!value.empty() && value[0] == '/') return value;
  std::string home = HomeFolder();
  if (home.empty()) return {};
  return home + "/" + fallback;
}

// XDG_DOCUMENTS_DIR from {config}/user-dirs.dirs: a line XDG_DOCUMENTS_DIR="$HOME/Documents"
// or an absolute path in quotes.
std::string DocumentsFolder() {
  std::string home = HomeFolder();
  std::string config = XdgFolder("XDG_CONFIG_HOME", ".config");
  if (!config.empty()) {
    std::ifstream dirs(config + "/user-dirs.dirs");
    std::string line;
    constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=\"";
    while (std::getline(dirs, line)) {
      if (line.compare(0, kKey.size(), kKey) != 0) continue;
      size_t end = line.find('"', kKey.size());
      if (end == std::string::npos) break;
      std::string value = line.substr(kKey.size(), end - kKey.size());
      if (value.compare(0, 5, "$HOME") == 0 && !home.empty()) return home + value.substr(5);
      if (!value.empty() && value[0] == '/') return value;
      break;
    }
  }
  if (home.empty()) return {};
  return home + "/Documents";
}

std::string MacroFolder(const std::string& token) {
  auto is = [&](const char* macro) { return strcasecmp(token.c_str(), macro) == 0; };
  if (is("$APPDATA")) return XdgFolder("XDG_CONFIG_HOME", ".config");
  if (is("$LOCAL_APPDATA")) return XdgFolder("XDG_DATA_HOME", ".local/share");
  if (is("$MYDOCUMENTS")) return DocumentsFolder();
  if (is("$PROFILE")) return HomeFolder();
  if (is("$PROGRAM_FILES")) return "/opt";
  return {};
}

}  // namespace

std::string ExpandPathMacros(std::string path) {
  if (path.empty()) return path;
  if (path.back() != '/') path.push_back('/');
  // The macro must be the whole first component; an absolute path has an empty one.
  size_t first_slash = path.find('/');
  if (first_slash == 0) return path;
  std::string folder = MacroFolder(path.substr(0, first_slash));
  if (folder.empty()) return {};
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder + path.substr(first_slash);
}

FileKind GetFileKind(const std::string& path) {
  std::string ext = FileExtension(path);
  if (ext.empty()) return FileKind::kOther;
  if (strcasecmp(ext.c_str(), ".swf") == 0) return FileKind::kFlash;
  // Judged by the extension alone, as a registry lookup by extension would: the glob
  // database matches without regard to case.
  std::string name = "x" + ext;
  gboolean uncertain = FALSE;
  std::unique_ptr<gchar, decltype(&g_free)> type(
      g_content_type_guess(name.c_str(), nullptr, 0, &uncertain), g_free);
  if (type == nullptr) return FileKind::kOther;
  std::unique_ptr<gchar, decltype(&g_free)> mime(g_content_type_get_mime_type(type.get()),
                                                 g_free);
  std::string_view media = mime != nullptr ? mime.get() : type.get();
  if (media.compare(0, 6, "video/") == 0) return FileKind::kVideo;
  if (media.compare(0, 6, "audio/") == 0) return FileKind::kAudio;
  if (media.compare(0, 6, "image/") == 0) return FileKind::kImage;
  return FileKind::kOther;
}

std::string FileNamePart(std::string_view path) {
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string FileExtension(std::string_view path) {
  std::string name = FileNamePart(path);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string RemoveFileUrl(std::string_view path) {
  constexpr std::string_view kFileUrl = "file:///";
  std::string out;
  out.reserve(path.size());
  size_t start = 0;
  for (size_t found = path.find(kFileUrl); found != std::string_view::npos;
       found = path.find(kFileUrl, start)) {
    out.append(path.substr(start, found - start));
    out.push_back('/');
    start = found + kFileUrl.size();
  }
  out.append(path.substr(start));
  return out;
}
