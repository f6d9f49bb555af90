#ifndef ORVO_TESTS_IMAGING_PIXEL_SUPPORT_H_
#define ORVO_TESTS_IMAGING_PIXEL_SUPPORT_H_

#include <Magick++.h>

#include <cmath>
#include <cstdlib>
#include <ostream>

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
inline std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

inline Rgb PixelAt(const Magick::Image& image, int x, int y) {
  Magick::ColorRGB c = image.pixelColor(x, y);
  return Rgb{static_cast<int>(std::lround(c.red() * 255)),
             static_cast<int>(std::lround(c.green() * 255)),
             static_cast<int>(std::lround(c.blue() * 255))};
}

// Within `tolerance` on every channel (lossy encoders).
inline bool Near(const Rgb& a, const Rgb& b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance;
}

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kWhite{255, 255, 255};

#endif  // ORVO_TESTS_IMAGING_PIXEL_SUPPORT_H_
