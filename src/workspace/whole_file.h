#ifndef ORVO_WORKSPACE_WHOLE_FILE_H_
#define ORVO_WORKSPACE_WHOLE_FILE_H_

#include <string>
#include <string_view>

class TempWorkspace;

// Reads the whole regular file at path into contents. False (contents emptied) when the file
// cannot be opened or read, is not a regular file, or is empty. contents.c_str() gives the
// bytes followed by a 0.
bool ReadWholeFile(const std::string& path, std::string& contents);

enum class DataEncoding {
  kText,    // written as given, each line feed as carriage return and line feed
  kBase64,  // base64 text decoded and written as bytes
};

// Creates or truncates the file at path and writes data. kBase64 decodes with the standard
// alphabet, skipping every other character (line breaks) and stopping at the first '='; empty
// data is written as empty text. Returns whether the file could be opened and written. An
// empty path writes nothing and returns false.
bool WriteDataFile(const std::string& path, std::string_view data, DataEncoding encoding);

// The same, to the workspace's DocumentPath().
bool WriteDataFile(const TempWorkspace& workspace, std::string_view data, DataEncoding encoding);

#endif  // ORVO_WORKSPACE_WHOLE_FILE_H_
