// The image codecs as a module of their own (image_codecs.h): its one export hands out the
// table of the codecs linked into it.
#include "imaging/image_codecs.h"

extern "C" __attribute__((visibility("default"))) const ImageCodecs* OrvoImageCodecs() {
  return GetImageCodecs();
}
