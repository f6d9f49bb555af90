#ifndef ORVO_CLIPBOARD_CAPTURE_IMAGES_H_
#define ORVO_CLIPBOARD_CAPTURE_IMAGES_H_

// The picture capture of ClipboardReader (its CaptureImages and RenderMetafileToPng live in
// capture_images.cc): bitmaps, metafiles, TIFF blocks and copied image files become image files
// in fresh work folders. What it needs beyond the reader's own members is declared here.

#include <string>

#include "imaging/image_rect.h"

// Measures the EMF file at path for the screen: *frame is the header's frame (0.01 mm) in
// screen pixels, *bounds the header's bounds unchanged. False when the file is no EMF.
bool GetMetafileMetrics(const std::string& path, ImageRect* frame, ImageRect* bounds);

#endif  // ORVO_CLIPBOARD_CAPTURE_IMAGES_H_
