#ifndef ORVO_IMAGING_IMAGE_SIGNATURE_H_
#define ORVO_IMAGING_IMAGE_SIGNATURE_H_

#include <string_view>

// The kinds of picture file the service knows by their leading bytes. One table decides for
// every caller: the sniffing of downloads and clipboard bitmaps, the choice of decoder, the
// structure walk and the RIFF test all read it.
enum class ImageSignature {
  kNone,
  kPng,   // the 8-byte PNG signature
  kJpeg,  // FF D8 FF
  kGif,   // "GIF8" (GIF87a and GIF89a)
  kBmp,   // "BM"
  kTiff,  // "II*\0" or "MM\0*"
  kRiff,  // "RIFF", whatever the form type (WebP, but WAVE and AVI too)
  kEmf,   // an EMR_HEADER record (type 1) with " EMF" at offset 40, at least 88 bytes
};

// The signature bytes begins with; kNone when none matches (or bytes is too short for it).
ImageSignature SignatureOf(std::string_view bytes);

// The most leading bytes SignatureOf ever looks at.
inline constexpr size_t kImageSignatureBytes = 88;

#endif  // ORVO_IMAGING_IMAGE_SIGNATURE_H_
