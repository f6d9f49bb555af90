#ifndef ORVO_TEXT_PATH_NAMES_H_
#define ORVO_TEXT_PATH_NAMES_H_

#include <string>
#include <string_view>

// The parts of a path or URL path as text; nothing here looks at the file system, so the codec
// component splits the names its archives carry by the same rule as the service.

// Which characters end a folder in a path. Names that come from pages and archives written on
// Windows may use '\' as well; a local path on this system may hold '\' inside a name.
enum class PathSeparators { kSlash, kSlashOrBackslash };

// The last component of path (name and extension): "/x/report.html" gives "report.html", a
// path without a separator is its own name. Also for URL paths ("a/b.png?x" gives "b.png?x").
std::string FileNamePart(std::string_view path, PathSeparators separators = PathSeparators::kSlash);

// Everything before the last component, with its closing '/': "/x/report.html" gives "/x/",
// "/a" gives "/", a path without '/' gives empty text. FolderPart(p) + FileNamePart(p) == p.
std::string FolderPart(std::string_view path);

// The extension of the last component, with its dot ("/x/a.b.png" gives ".png"; empty when the
// name has no dot).
std::string FileExtension(std::string_view path);

#endif  // ORVO_TEXT_PATH_NAMES_H_
