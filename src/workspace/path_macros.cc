#include "workspace/path_macros.h"

#include <gio/gio.h>

#include <memory>

#include "platform/file_system.h"
#include "text/ascii.h"

namespace {

std::string MacroFolder(const std::string& token) {
  static constexpr struct {
    const char* macro;
    KnownFolder folder;
  } kMacros[] = {
      {"$APPDATA", KnownFolder::kConfig},         {"$LOCAL_APPDATA", KnownFolder::kData},
      {"$MYDOCUMENTS", KnownFolder::kDocuments},  {"$PROFILE", KnownFolder::kHome},
      {"$PROGRAM_FILES", KnownFolder::kPrograms},
  };
  for (const auto& row : kMacros) {
    if (EqualsIgnoringAsciiCase(token, row.macro)) {
      return FileSystem::Default().KnownFolderPath(row.folder);
    }
  }
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
  if (EqualsIgnoringAsciiCase(ext, ".swf")) return FileKind::kFlash;
  // Judged by the extension alone, as a registry lookup by extension would: the glob
  // database matches without regard to case.
  std::string name = "x" + ext;
  gboolean uncertain = FALSE;
  std::unique_ptr<gchar, decltype(&g_free)> type(
      g_content_type_guess(name.c_str(), nullptr, 0, &uncertain), g_free);
  if (type == nullptr) return FileKind::kOther;
  std::unique_ptr<gchar, decltype(&g_free)> mime(g_content_type_get_mime_type(type.get()), g_free);
  std::string_view media = mime != nullptr ? mime.get() : type.get();
  if (media.compare(0, 6, "video/") == 0) return FileKind::kVideo;
  if (media.compare(0, 6, "audio/") == 0) return FileKind::kAudio;
  if (media.compare(0, 6, "image/") == 0) return FileKind::kImage;
  return FileKind::kOther;
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

std::string LocalPathOfFileUri(const std::string& uri) {
  gchar* host = nullptr;
  gchar* path = g_filename_from_uri(uri.c_str(), &host, nullptr);
  std::string local;
  if (path != nullptr && (host == nullptr || g_ascii_strcasecmp(host, "localhost") == 0)) {
    local = path;
  }
  g_free(path);
  g_free(host);
  return local;
}
