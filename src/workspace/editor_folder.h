#ifndef ORVO_WORKSPACE_EDITOR_FOLDER_H_
#define ORVO_WORKSPACE_EDITOR_FOLDER_H_

#include <string>

// The install folder of the editor's companion tools (the WebP decoder, the math editor),
// without a trailing '/': "/opt/OrvoEditor" on this platform. Never empty here.
std::string EditorDataFolder();

#endif  // ORVO_WORKSPACE_EDITOR_FOLDER_H_
