#ifndef ORVO_WORKSPACE_RANDOM_CHARS_H_
#define ORVO_WORKSPACE_RANDOM_CHARS_H_

#include <cstdint>
#include <string>

// The alphabet of random names and Content-IDs.
inline constexpr char kRandomAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// The C runtime's rand(): seed 1, x = x * 214013 + 2531011, value (x >> 16) & 0x7FFF. Each
// thread has its own generator that starts at seed 1, so every thread draws the same sequence
// a never-seeded runtime would; request folders and names stay unique by probing, not by
// the randomness.
int RuntimeRand();

// Returns count random characters of kRandomAlphabet; an odd count is raised by one (each
// generator value gives two characters: alphabet[v % 36], then alphabet[(v >> 6) % 36]).
// Nothing for count <= 0.
std::string RandomChars(int count);

#endif  // ORVO_WORKSPACE_RANDOM_CHARS_H_
