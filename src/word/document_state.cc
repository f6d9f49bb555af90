#include "word/document_state.h"

#include "workspace/whole_file.h"

DocumentState CaptureDocument(const std::string& path) {
  DocumentState state;
  state.status = FileSystem::Default().Status(path, FollowLinks::kYes);
  if (state.status.Exists()) ReadWholeFile(path, state.content);
  return state;
}
