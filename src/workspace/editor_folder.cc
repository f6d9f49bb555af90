#include "workspace/editor_folder.h"

std::string EditorDataFolder() {
  // The tools' install folder under the programs root, as the editor's installer lays it out.
  return "/opt/OrvoEditor";
}
