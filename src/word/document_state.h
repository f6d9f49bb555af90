#ifndef ORVO_WORD_DOCUMENT_STATE_H_
#define ORVO_WORD_DOCUMENT_STATE_H_

#include <string>

#include "platform/file_system.h"

// "Did the user save?" A program may save twice within one second, or save a document of the
// same size at the same (coarse) time; comparing only seconds of modification time would lose
// such an edit. So the whole state is compared: existence, size, modification time to the
// nanosecond, and the content.
struct DocumentState {
  FileStatus status;
  std::string content;  // the whole file; empty when it is missing or unreadable

  bool operator==(const DocumentState& other) const {
    return status.type == other.status.type && status.size == other.status.size &&
           status.SameModification(other.status) && content == other.content;
  }
  bool operator!=(const DocumentState& other) const { return !(*this == other); }
};

// The state of the file at path now. Thread-safe.
DocumentState CaptureDocument(const std::string& path);

#endif  // ORVO_WORD_DOCUMENT_STATE_H_
