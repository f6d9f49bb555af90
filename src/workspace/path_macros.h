#ifndef ORVO_WORKSPACE_PATH_MACROS_H_
#define ORVO_WORKSPACE_PATH_MACROS_H_

#include <string>
#include <string_view>

#include "text/path_names.h"

// Folder macros a page may put at the start of a folder argument ("temppath"), and small path
// classifiers. Thread-safe (they read the environment and files, and keep no state).

// Expands a leading macro component, compared without regard to case:
//   $APPDATA        $XDG_CONFIG_HOME, else ~/.config
//   $LOCAL_APPDATA  $XDG_DATA_HOME, else ~/.local/share
//   $MYDOCUMENTS    XDG_DOCUMENTS_DIR of user-dirs.dirs, else ~/Documents
//   $PROFILE        $HOME
//   $PROGRAM_FILES  /opt
// The result always ends with '/': "$APPDATA/Cache/tmp" gives "{config}/Cache/tmp/", "/srv/data"
// gives "/srv/data/". Empty stays empty. A relative path whose first component is no macro
// ("work/tmp", "$TEMP/x"), or a macro whose folder cannot be found, gives an empty string,
// which callers read as "use the system temp folder".
std::string ExpandPathMacros(std::string path);

// The kind of a file judged by the media type of its name's extension.
enum class FileKind {
  kOther = 0,
  kImage = 1,  // image/*
  kAudio = 2,  // audio/*
  kVideo = 3,  // video/*
  kFlash = 4,  // ".swf", decided before any lookup
};
FileKind GetFileKind(const std::string& path);

// Reads a file URL as a local path: every "file:///" in path becomes "/", so
// "file:///home/a.png" gives "/home/a.png". Nothing is percent-decoded.
std::string RemoveFileUrl(std::string_view path);

// The local path a file URI names, percent-decoded (RFC 8089): "file:///a%20b.png" and
// "file://localhost/a%20b.png" give "/a b.png". Empty for any other URI: another scheme or
// host, a malformed escape, or an escape that would put a 0 byte or a '/' into a name.
std::string LocalPathOfFileUri(const std::string& uri);

#endif  // ORVO_WORKSPACE_PATH_MACROS_H_
