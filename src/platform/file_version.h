#ifndef ORVO_PLATFORM_FILE_VERSION_H_
#define ORVO_PLATFORM_FILE_VERSION_H_

#include <string>

// The file version of an executable as "major.minor.build.revision", or "0.0.0.0" when the
// path is empty, the file is missing or unreadable, or it carries no version.
//
// Reads the version note that the build stamps into an ELF executable (note name "OrvoHTTPS",
// type 1, four 32-bit numbers), and the fixed file information of a PE file's version
// resource, so a Windows-built companion beside the service reports its version too.
std::string FileVersionOf(const std::string& path);

// The note's name and type, shared with the stamp in the executable.
inline constexpr char kVersionNoteName[] = "OrvoHTTPS";
inline constexpr unsigned kVersionNoteType = 1;

#endif  // ORVO_PLATFORM_FILE_VERSION_H_
