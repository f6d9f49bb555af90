#include "imaging/metafile.h"

#include <cairo.h>
#include <emf2svg.h>
#include <librsvg/rsvg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/image_decoder.h"
#include "imaging/image_utils.h"

namespace {

// The SVG root emf2svg writes carries the bounds size without its last row and column; set the
// inclusive size so that the rightmost pixels are not clipped.
std::string WithRootSize(const std::string& svg, double width, double height) {
  size_t root = svg.find("<svg");
  size_t end = root == std::string::npos ? root : svg.find('>', root);
  if (end == std::string::npos) return svg;
  std::string tag = svg.substr(root, end - root);
  for (const char* attr : {" width=\"", " height=\""}) {
    size_t at = tag.find(attr);
    if (at == std::string::npos) continue;
    size_t close = tag.find('"', at + std::strlen(attr));
    if (close != std::string::npos) tag.erase(at, close + 1 - at);
  }
  char size[96];
  std::snprintf(size, sizeof size, " width=\"%.4f\" height=\"%.4f\"", width, height);
  return svg.substr(0, root) + tag + size + svg.substr(end);
}

bool EmfToSvg(std::string_view emf, std::string* svg) {
  generatorOptions options = {};
  options.svgDelimiter = true;
  options.emfplus = true;
  char* out = nullptr;
  size_t out_length = 0;
  // The converter takes a mutable buffer; give it a copy.
  std::vector<char> input(emf.begin(), emf.end());
  int ok = emf2svg(input.data(), input.size(), &out, &out_length, &options);
  if (ok != 0 && out != nullptr) svg->assign(out, out_length);
  std::free(out);
  return ok != 0 && !svg->empty();
}

cairo_status_t AppendToString(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
struct HandleDeleter {
  void operator()(RsvgHandle* h) const { g_object_unref(h); }
};

bool DrawSvg(const std::string& svg, double natural_width, double natural_height, double offset_x,
             double offset_y, int width, int height, std::string* png) {
  GError* error = nullptr;
  std::unique_ptr<RsvgHandle, HandleDeleter> handle(
      rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error));
  if (error != nullptr) g_error_free(error);
  if (!handle) return false;

  std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return false;
  std::unique_ptr<cairo_t, ContextDeleter> cr(cairo_create(surface.get()));
  cairo_set_source_rgb(cr.get(), 1, 1, 1);
  cairo_paint(cr.get());
  cairo_scale(cr.get(), width / natural_width, height / natural_height);
  cairo_translate(cr.get(), -offset_x, -offset_y);
  RsvgRectangle viewport = {0, 0, natural_width, natural_height};
  error = nullptr;
  gboolean drawn = rsvg_handle_render_document(handle.get(), cr.get(), &viewport, &error);
  if (error != nullptr) g_error_free(error);
  if (!drawn) return false;
  cairo_surface_flush(surface.get());
  png->clear();
  return cairo_surface_write_to_png_stream(surface.get(), AppendToString, png) ==
             CAIRO_STATUS_SUCCESS &&
         !png->empty();
}

}  // namespace

bool RenderEmfToPng(std::string_view emf, int32_t origin_x, int32_t origin_y, int width, int height,
                    std::string* png) {
  EmfHeader header;
  if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxImagePixels ||
      !ParseEmfHeader(emf, &header)) {
    return false;
  }
  // Bounds are inclusive; an empty or inverted picture has nothing to scale.
  double natural_width = static_cast<double>(header.bounds.right) - header.bounds.left + 1;
  double natural_height = static_cast<double>(header.bounds.bottom) - header.bounds.top + 1;
  if (natural_width <= 0 || natural_height <= 0) return false;
  std::string svg;
  if (!EmfToSvg(emf, &svg)) return false;
  // The converter puts the bounds' top-left corner at the SVG origin.
  return DrawSvg(WithRootSize(svg, natural_width, natural_height), natural_width, natural_height,
                 static_cast<double>(origin_x) - header.bounds.left,
                 static_cast<double>(origin_y) - header.bounds.top, width, height, png);
}
