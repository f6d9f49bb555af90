#ifndef ORVO_TESTS_IMAGING_EMF_FIXTURE_H_
#define ORVO_TESTS_IMAGING_EMF_FIXTURE_H_

#include <string>

#include "image_test_support.h"

// Builds an enhanced metafile byte by byte: a 108-byte header with the given bounds (device
// units) and frame (0.01 mm), then a solid brush of `rgb` (0xRRGGBB), the null pen and one
// filled rectangle, then the end-of-file record.
inline std::string BuildEmf(int bl, int bt, int br, int bb, int fl, int ft, int fr, int fb, int rl,
                            int rt, int rr, int rb, uint32_t rgb) {
  std::string records;
  auto record = [&records](uint32_t type, const std::string& payload) {
    Put32(&records, type);
    Put32(&records, static_cast<uint32_t>(8 + payload.size()));
    records += payload;
  };
  std::string p;
  uint32_t colorref = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
  Put32(&p, 1), Put32(&p, 0), Put32(&p, colorref), Put32(&p, 0);
  record(39, p);  // EMR_CREATEBRUSHINDIRECT, object 1
  p.clear(), Put32(&p, 1);
  record(37, p);  // EMR_SELECTOBJECT brush
  p.clear(), Put32(&p, 0x80000008);
  record(37, p);  // EMR_SELECTOBJECT NULL_PEN
  p.clear(), Put32(&p, rl), Put32(&p, rt), Put32(&p, rr), Put32(&p, rb);
  record(43, p);  // EMR_RECTANGLE
  p.clear(), Put32(&p, 0), Put32(&p, 16), Put32(&p, 20);
  record(14, p);  // EMR_EOF

  std::string h;
  Put32(&h, 1), Put32(&h, 108);
  for (int v : {bl, bt, br, bb, fl, ft, fr, fb}) Put32(&h, static_cast<uint32_t>(v));
  Put32(&h, 0x464D4520), Put32(&h, 0x10000);
  Put32(&h, static_cast<uint32_t>(108 + records.size()));
  Put32(&h, 6);                              // records, the header included
  Put16(&h, 2), Put16(&h, 0);                // handles, reserved
  Put32(&h, 0), Put32(&h, 0), Put32(&h, 0);  // description, palette
  Put32(&h, 1920), Put32(&h, 1080);          // device pixels
  Put32(&h, 508), Put32(&h, 286);            // device millimetres
  Put32(&h, 0), Put32(&h, 0), Put32(&h, 0);  // pixel format, OpenGL
  Put32(&h, 508000), Put32(&h, 286000);      // device micrometres
  return h + records;
}

#endif  // ORVO_TESTS_IMAGING_EMF_FIXTURE_H_
