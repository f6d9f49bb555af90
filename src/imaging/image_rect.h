#ifndef ORVO_IMAGING_IMAGE_RECT_H_
#define ORVO_IMAGING_IMAGE_RECT_H_

#include <cstdint>

// A rectangle of four signed 32-bit values, laid out as the metafile header stores them.
struct ImageRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

#endif  // ORVO_IMAGING_IMAGE_RECT_H_
