#include "fetch/mime_type.h"

#include <gio/gio.h>

#include <memory>

#include "text/ascii.h"
#include "workspace/path_macros.h"

namespace {

struct GFreeDeleter {
  void operator()(gchar* text) const { g_free(text); }
};
using GTextPtr = std::unique_ptr<gchar, GFreeDeleter>;

// The last component of url's path, with the query and fragment cut off. Windows-style paths in
// pages still use '\' between folders.
std::string NameOf(const std::string& url) {
  return FileNamePart(std::string_view(url).substr(0, url.find_first_of("?#")),
                      PathSeparators::kSlashOrBackslash);
}

}  // namespace

std::string GetMimeTypeFromUrl(const std::string& url) {
  std::string name = NameOf(url);
  if (name.empty()) return {};
  gboolean uncertain = FALSE;
  GTextPtr content_type(g_content_type_guess(name.c_str(), nullptr, 0, &uncertain));
  if (!content_type) return {};
  // With neither a known extension nor data, GIO answers the generic type as a guess.
  if (uncertain && g_content_type_is_unknown(content_type.get())) return {};
  GTextPtr mime_type(g_content_type_get_mime_type(content_type.get()));
  if (!mime_type) return {};
  return mime_type.get();
}

bool IsStyleSheetMediaType(std::string_view content_type) {
  std::string type = AsciiLowered(content_type.substr(0, content_type.find(';')));
  size_t begin = type.find_first_not_of(" \t");
  size_t end = type.find_last_not_of(" \t");
  if (begin == std::string::npos) return false;
  type = type.substr(begin, end - begin + 1);
  return type.size() > 5 && type.compare(0, 5, "text/") == 0 && type != "text/html";
}
