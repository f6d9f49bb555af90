#ifndef ORVO_MIME_EMBED_FILE_OPS_H_
#define ORVO_MIME_EMBED_FILE_OPS_H_

#include <cstdint>
#include <string>

// The file operations of resource embedding. None of them ever replaces an existing file: the
// embedder works beside files the user owns and files other references already produced.

// Whether path (links followed) is a regular file; a pipe, device, folder or link loop is not.
bool IsRegularFile(const std::string& path);

// The size of the regular file at path; -1 when path is not one.
int64_t RegularFileSize(const std::string& path);

// Copies the regular file from to to; false when to exists already or from is not a regular
// file.
bool CopyFileNoReplace(const std::string& from, const std::string& to);

// Renames from to to; false (from left in place) when to exists already.
bool MoveFileNoReplace(const std::string& from, const std::string& to);

// Up to count bytes from the start of the regular file at path; empty when it is not one.
std::string ReadFileHead(const std::string& path, size_t count);

#endif  // ORVO_MIME_EMBED_FILE_OPS_H_
