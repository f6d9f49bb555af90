#ifndef ORVO_IMAGING_IMAGE_STRUCTURE_H_
#define ORVO_IMAGING_IMAGE_STRUCTURE_H_

#include <cstddef>
#include <string_view>

// Judges whether a PNG or JPEG file is whole by walking its chunks or marker segments in place,
// without decoding a pixel: the readability test of large pictures then costs a pass over the
// bytes instead of a full decode. Pure computation over the given bytes (no allocation, no
// locks), so it may run over a memory-mapped file under the bus-error guard. Thread-safe.

enum class ImageStructure {
  kWhole,        // every chunk or segment is complete and the end marker is present
  kBroken,       // cut short, a lying length, a bad checksum of a critical chunk, no pixel data,
                 // or far more pixels declared than the data could hold
  kNotWalkable,  // not PNG or JPEG: only a decode can tell
};

// Walks bytes. For kWhole, *header_bytes is the length of the leading part that holds every
// header a decoder reads before the pixel data (PNG: up to the first IDAT's data; JPEG: up to
// the end of the first scan header; never less than the first 64 bytes of a longer file), which
// is all an image library needs to read the picture's size. PNG: signature, IHDR first, each chunk
// inside the file, the CRC of every critical chunk correct, IDAT present and large enough for the
// declared pixels at deflate's highest ratio, IEND reached. JPEG: SOI,
// every segment inside the file, a frame header and a scan before EOI, EOI reached through the
// entropy-coded data.
ImageStructure WalkImageStructure(std::string_view bytes, size_t* header_bytes);

// Whether the header part (header_bytes) of a PNG found whole reads as a picture for certain, so
// that the image library need not be asked: an IHDR of 1 to kMaxImagePixels pixels, each side at
// most 1,000,000 (the PNG reader's own limit), a bit depth its colour type allows, the one
// compression and filter method and a known interlace method; then, up to the first IDAT, the
// palette a palette image needs (at most one, of whole entries) and only small ancillary chunks
// that the reader knows and at worst warns about. False means "ask the library", not "broken".
bool PngHeaderIsPlain(std::string_view header);

#endif  // ORVO_IMAGING_IMAGE_STRUCTURE_H_
