#include "word/document_state.h"

#include "workspace/whole_file.h"

DocumentState CaptureDocument(const std::string& path) {
  DocumentState state;
  state.status = QueryFileStatus(path);
  if (state.status.exists) ReadWholeFile(path, state.content);
  return state;
}
