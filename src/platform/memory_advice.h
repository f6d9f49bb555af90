#ifndef ORVO_PLATFORM_MEMORY_ADVICE_H_
#define ORVO_PLATFORM_MEMORY_ADVICE_H_

#include <cstddef>

// Asks for the not yet touched memory [begin, begin + size) to be backed by large pages where
// the system offers them: a buffer of tens of megabytes filled once then costs a page fault
// every two megabytes instead of every four kilobytes. Only whole large pages inside the range
// are affected; a range smaller than one large page is left as it is. The memory's contents and
// lifetime do not change; the advice may be ignored.
void AdviseLargePages(void* begin, size_t size);

#endif  // ORVO_PLATFORM_MEMORY_ADVICE_H_
