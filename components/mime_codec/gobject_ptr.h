#ifndef ORVO_COMPONENTS_MIME_CODEC_GOBJECT_PTR_H_
#define ORVO_COMPONENTS_MIME_CODEC_GOBJECT_PTR_H_

#include <glib-object.h>

#include <memory>

namespace mimecodec {

struct GObjectUnref {
  void operator()(gpointer object) const {
    if (object != nullptr) g_object_unref(object);
  }
};

// Owns one reference of a GObject (a GMime stream, part, parser...) and drops it at the end of
// its scope. Null is allowed and owns nothing.
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

}  // namespace mimecodec

#endif  // ORVO_COMPONENTS_MIME_CODEC_GOBJECT_PTR_H_
