// Times ConvertImageFile on a 4000x3000 BMP (to PNG and to JPEG) against GraphicsMagick's own
// command-line converter given the same settings, in the same run and on the same file.
//
// Usage: imaging_convert_bench [iterations]   (default 5; the median is reported)

#include <Magick++.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "imaging/image_utils.h"
#include "platform/process.h"

namespace {

using Clock = std::chrono::steady_clock;

// A photograph-like picture (a plasma fractal): neither flat colour nor pure noise.
void WriteSourceBmp(const std::string& path) {
  Magick::Image image;
  image.size(Magick::Geometry(4000, 3000));
  image.read("plasma:fractal");
  image.type(Magick::TrueColorType);
  image.magick("BMP3");
  image.write(path);
}

struct Timing {
  std::vector<double> ms;
  double Median() {
    if (ms.empty()) return -1;
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
  }
};

bool TimeOnce(const std::function<bool()>& run, Timing* timing) {
  auto start = Clock::now();
  if (!run()) return false;
  timing->ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  return true;
}

long long FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

bool Gm(const std::vector<std::string>& argv) {
  return RunAndWaitFor(argv, std::chrono::minutes(5)).Succeeded();
}

}  // namespace

int main(int argc, char** argv) {
  int iterations = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
  if (!InitializeImaging()) return 1;
  char folder[] = "/tmp/orvo-imaging-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  std::string dir = folder;
  std::string bmp = dir + "/source.bmp";
  WriteSourceBmp(bmp);

  // The service's settings: PNG through our writer (24-bit RGB, Up rows, libdeflate level 2)
  // beside the library's fast setting (zlib level 1, adaptive filters); JPEG at the
  // caller's quality 70 (the source is over 5 MiB, so 70 applies).
  const std::string png_ours = dir + "/ours.png", png_gm = dir + "/gm.png";
  const std::string jpg_ours = dir + "/ours.jpg", jpg_gm = dir + "/gm.jpg";
  auto ours_png = [&] { return ConvertImageFile(bmp, png_ours, ImageType::kPng, 70); };
  auto gm_png = [&] { return Gm({"gm", "convert", bmp, "-quality", "15", "PNG24:" + png_gm}); };
  auto ours_jpg = [&] { return ConvertImageFile(bmp, jpg_ours, ImageType::kJpeg, 70); };
  auto gm_jpg = [&] { return Gm({"gm", "convert", bmp, "-quality", "70", "JPEG:" + jpg_gm}); };
  // GraphicsMagick's own PNG defaults (zlib level 7, palette analysis), for reference.
  auto gm_png_default = [&] { return Gm({"gm", "convert", bmp, dir + "/gm-default.png"}); };

  // Interleaved, so that load from other processes falls on every contender alike.
  Timing t_ours_png, t_gm_png, t_ours_jpg, t_gm_jpg, t_gm_default;
  for (int i = 0; i < iterations; ++i) {
    if (!TimeOnce(ours_png, &t_ours_png) || !TimeOnce(gm_png, &t_gm_png) ||
        !TimeOnce(ours_jpg, &t_ours_jpg) || !TimeOnce(gm_jpg, &t_gm_jpg) ||
        !TimeOnce(gm_png_default, &t_gm_default)) {
      std::fprintf(stderr, "a conversion failed\n");
      return 1;
    }
  }

  std::printf("source: 4000x3000 24-bit BMP, %lld bytes; median of %d runs\n", FileSize(bmp),
              iterations);
  std::printf("%-34s %10s %12s\n", "conversion", "ms", "bytes");
  std::printf("%-34s %10.1f %12lld\n", "BMP->PNG  ConvertImageFile", t_ours_png.Median(),
              FileSize(png_ours));
  std::printf("%-34s %10.1f %12lld\n", "BMP->PNG  gm convert -quality 15", t_gm_png.Median(),
              FileSize(png_gm));
  std::printf("%-34s %10.1f %12lld\n", "BMP->PNG  gm convert (defaults)", t_gm_default.Median(),
              FileSize(dir + "/gm-default.png"));
  std::printf("%-34s %10.1f %12lld\n", "BMP->JPEG ConvertImageFile q70", t_ours_jpg.Median(),
              FileSize(jpg_ours));
  std::printf("%-34s %10.1f %12lld\n", "BMP->JPEG gm convert -quality 70", t_gm_jpg.Median(),
              FileSize(jpg_gm));
  std::system(("rm -rf '" + dir + "'").c_str());
  return 0;
}
