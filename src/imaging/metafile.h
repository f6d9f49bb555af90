#ifndef ORVO_IMAGING_METAFILE_H_
#define ORVO_IMAGING_METAFILE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "imaging/image_rect.h"

// Enhanced metafiles (EMF): reading the header and rendering the picture to pixels.

// The parts of an EMF header that sizing a metafile needs.
struct EmfHeader {
  ImageRect bounds;          // rclBounds: the picture's extent in device units, inclusive
  ImageRect frame;           // rclFrame: the picture frame in 0.01 mm, inclusive
  int32_t device_width = 0;  // szlDevice: the reference device in pixels
  int32_t device_height = 0;
  int32_t millimeters_width = 0;  // szlMillimeters: the reference device in millimetres
  int32_t millimeters_height = 0;
};

// Reads the header of the EMF file at `path`. False when the file cannot be read or does not
// start with a well-formed EMF header (record type 1, the " EMF" signature, a header size of at
// least 88 bytes that fits the file).
bool ReadEmfHeader(const std::string& path, EmfHeader* header);

// The same, from bytes already in memory.
bool ParseEmfHeader(std::string_view bytes, EmfHeader* header);

// Renders the EMF in `emf` onto a width x height canvas cleared to opaque white and encodes it
// as PNG into *png. The picture's own size is its bounds rectangle; it is stretched so that the
// area starting at (origin_x, origin_y), in device units, and as large as the picture fills the
// canvas. False for a malformed metafile, a non-positive size or one over the pixel cap.
bool RenderEmfToPng(std::string_view emf, int32_t origin_x, int32_t origin_y, int width, int height,
                    std::string* png);

#endif  // ORVO_IMAGING_METAFILE_H_
