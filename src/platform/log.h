#ifndef ORVO_PLATFORM_LOG_H_
#define ORVO_PLATFORM_LOG_H_

// Diagnostic output. The service has no log file: its lines go to standard output, which is
// seen only when the output was redirected.
//
// Log formats like printf and writes the whole text with one write under a process-wide lock,
// then flushes, so lines of concurrent requests never interleave. Thread-safe.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif  // ORVO_PLATFORM_LOG_H_
