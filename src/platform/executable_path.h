#ifndef ORVO_PLATFORM_EXECUTABLE_PATH_H_
#define ORVO_PLATFORM_EXECUTABLE_PATH_H_

#include <string>

// The full path of the running executable, or empty text when it cannot be read.
std::string ExecutablePath();

// The folder of the running executable with a trailing '/', or empty text when the path cannot
// be read. The certificates and the components lie in this folder.
std::string ExecutableFolder();

#endif  // ORVO_PLATFORM_EXECUTABLE_PATH_H_
