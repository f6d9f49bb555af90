#include "workspace/random_chars.h"

namespace {
thread_local uint32_t g_rand_state = 1;
}  // namespace

int RuntimeRand() {
  g_rand_state = g_rand_state * 214013u + 2531011u;
  return static_cast<int>((g_rand_state >> 16) & 0x7FFF);
}

std::string RandomChars(int count) {
  std::string out;
  if (count <= 0) return out;
  int steps = (count - 1) / 2 + 1;
  out.reserve(static_cast<size_t>(steps) * 2);
  for (int i = 0; i < steps; ++i) {
    int value = RuntimeRand();
    out.push_back(kRandomAlphabet[value % 36]);
    out.push_back(kRandomAlphabet[(value >> 6) % 36]);
  }
  return out;
}
