// cfp-0011 with a screenshot on the clipboard (offered by the test owner through INCR, first as
// image/png, then as image/bmp), end to end against the built service over TLS, beside `xclip -o
// -t image/png` reading the same selection and `gm convert -quality 15` of the same BMP. Also the
// clipboard read alone and the bitmap route's steps (decode to a bitmap, PNG encode straight from
// it), which a PNG offer skips (it is handed on as offered) but a bitmap offered as image/bmp
// takes; beside them, the same PNG made through a bitmap file (write it, then convert the file).
//
//   clipboard_command_bench [width=3840] [height=2160] [runs=5]
#include <Magick++.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "clipboard/clipboard_formats.h"
#include "imaging/dib_data.h"
#include "imaging/image_utils.h"
#include "integration/service_fixture.h"
#include "platform/clipboard.h"
#include "platform/global_memory.h"
#include "support/scratch_folder.h"
#include "support/x_display.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A screen-like picture: flat panels, gradients and fine detail, as a desktop screenshot has.
std::string MakeScreenshot(size_t width, size_t height) {
  std::string rgb(width * height * 3, '\0');
  for (size_t y = 0; y < height; ++y) {
    for (size_t x = 0; x < width; ++x) {
      char* p = &rgb[(y * width + x) * 3];
      const bool panel = (x / 480 + y / 270) % 2 == 0;
      const bool text = (y % 18 < 12) && ((x * 7 + y * 3) % 11 < 4) && (x % 480 < 400);
      p[0] = static_cast<char>(text ? 20 : panel ? 240 : x * 255 / width);
      p[1] = static_cast<char>(text ? 20 : panel ? 240 : y * 255 / height);
      p[2] = static_cast<char>(text ? 20 : panel ? 245 : 128);
    }
  }
  Magick::Image image(width, height, "RGB", Magick::CharPixel, rgb.data());
  image.magick("PNG");
  Magick::Blob blob;
  image.write(&blob);
  return std::string(static_cast<const char*>(blob.data()), blob.length());
}

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

double LoadAverage() {
  double load = -1;
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &load) != 1) load = -1;
    std::fclose(f);
  }
  return load;
}

double TimeCommand(const std::string& command) {
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  const size_t width = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 3840;
  const size_t height = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 2160;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
  InitializeImaging();
  xtest::XServer server;
  if (!server.ok()) return 1;
  scratch::ScratchFolder folder;
  scratch::TempDirOverride tmpdir(folder.path());
  const std::string png = MakeScreenshot(width, height);
  scratch::WriteFile(folder / "screen.png", png);
  auto owner = std::make_unique<xtest::ClipboardOwner>(
      std::vector<std::string>{"--chunk", "262144", "image/png", folder / "screen.png"});
  if (!owner->ok()) return 1;
  std::printf("screenshot %zux%zu, PNG %zu bytes\n", width, height, png.size());
  Magick::Image bitmap(Magick::Blob(png.data(), png.size()));
  bitmap.magick("BMP3");
  bitmap.write(folder / "screen.bmp");
  const std::string bmp_file = scratch::ReadFile(folder / "screen.bmp");

  double read = 1e9, decode = 1e9, direct = 1e9, bmp = 1e9, encode = 1e9, xclip = 1e9, gm = 1e9;
  for (int run = 0; run < runs; ++run) {
    auto start = Clock::now();
    std::string bytes, dib;
    if (!TakeClipboardSnapshot()->Read("image/png", &bytes) || bytes != png) return 1;
    read = std::min(read, Seconds(start));
    start = Clock::now();
    if (!PackedDibFromImage(bmp_file, &dib)) return 1;
    decode = std::min(decode, Seconds(start));
    start = Clock::now();
    if (!SaveDibAsPng(MakeGlobalBlock(dib), folder / "direct.png")) return 1;
    direct = std::min(direct, Seconds(start));
    start = Clock::now();
    if (!SaveDibAsBmp(MakeGlobalBlock(dib), folder / "via.bmp")) return 1;
    bmp = std::min(bmp, Seconds(start));
    start = Clock::now();
    if (!ConvertImageFile(folder / "via.bmp", folder / "out.png", ImageType::kPng, 70)) {
      return 1;
    }
    encode = std::min(encode, Seconds(start));
    xclip = std::min(
        xclip, TimeCommand("xclip -o -selection clipboard -t image/png > " + folder / "xclip.png"));
    gm = std::min(gm, TimeCommand("gm convert " + folder / "xclip.png" + " " + folder / "gm.png"));
  }
  if (scratch::ReadFile(folder / "xclip.png") != png) std::fprintf(stderr, "xclip differs\n");
  if (scratch::ReadFile(folder / "direct.png") != scratch::ReadFile(folder / "out.png")) {
    std::fprintf(stderr, "the two bitmap routes differ\n");
  }

  // The paste itself, beside its peers, alternating run by run so that load from other
  // processes falls on both alike: a PNG offer against `xclip -o` reading it, then the same
  // screenshot offered as image/bmp against `gm convert -quality 15` of that BMP.
  service_test::ServiceProcess service;
  if (!service.Start()) return 1;
  auto client = service.Client();
  client->set_read_timeout(120);
  client->Post("/", "{\"cmd\":\"cfp-1000\"}", "text/plain");  // warm the connection up
  auto paste = [&](size_t* answer) {
    const auto start = Clock::now();
    auto res =
        client->Post("/", "{\"cmd\":\"cfp-0011\",\"session\":\"b\",\"pdu\":{}}", "text/plain");
    if (!res || res->status != 200 || res->body.find("base64string") == std::string::npos) {
      return -1.0;
    }
    *answer = res->body.size();
    return Seconds(start);
  };
  size_t png_answer = 0, bmp_answer = 0;
  std::vector<double> png_paste, xclip_runs, bmp_paste, gm_runs;
  for (int run = 0; run < runs; ++run) {
    png_paste.push_back(paste(&png_answer));
    xclip_runs.push_back(
        TimeCommand("xclip -o -selection clipboard -t image/png > " + folder / "xclip.png"));
  }
  owner.reset();  // one owner of the selection at a time
  auto bmp_owner = std::make_unique<xtest::ClipboardOwner>(
      std::vector<std::string>{"--chunk", "262144", "image/bmp", folder / "screen.bmp"});
  if (!bmp_owner->ok()) return 1;
  // The bitmap's PNG made as the bitmap arrives, against reading it whole and then encoding it.
  double bmp_read = 1e9, streamed = 1e9, read_then_encode = 1e9;
  for (int run = 0; run < runs; ++run) {
    auto start = Clock::now();
    std::string bytes, after, during;
    if (!TakeClipboardSnapshot()->Read("image/bmp", &bytes) || bytes != bmp_file) return 1;
    bmp_read = std::min(bmp_read, Seconds(start));
    if (!PngFromPlainBmp(bytes, &after)) return 1;
    read_then_encode = std::min(read_then_encode, Seconds(start));
    start = Clock::now();
    if (!ClipboardFormats(TakeClipboardSnapshot()).GetPlainBitmapAsPng(&during)) return 1;
    streamed = std::min(streamed, Seconds(start));
    if (during != after) {
      std::fprintf(stderr, "the PNG made during the read differs\n");
      return 1;
    }
  }
  for (int run = 0; run < runs; ++run) {
    bmp_paste.push_back(paste(&bmp_answer));
    gm_runs.push_back(
        TimeCommand("gm convert -quality 15 " + folder / "screen.bmp" + " " + folder / "gm15.png"));
  }
  client->Get("/stop");
  service.WaitForExit(10000);
  for (const auto* times : {&png_paste, &xclip_runs, &bmp_paste, &gm_runs}) {
    if (std::find(times->begin(), times->end(), -1.0) != times->end()) {
      std::fprintf(stderr, "a paste or a peer failed\n");
      return 1;
    }
  }
  const double load = LoadAverage();

  std::printf("best of %d runs (steps); medians of %d alternating runs (pastes)\n", runs, runs);
  std::printf("load average at the end: %.2f\n", load);
  std::printf("cfp-0011 image/png paste       %.3f s  (answer %zu bytes)\n", Median(png_paste),
              png_answer);
  std::printf("xclip -o -t image/png          %.3f s  ratio %.2f\n", Median(xclip_runs),
              Median(png_paste) / Median(xclip_runs));
  std::printf("cfp-0011 image/bmp paste       %.3f s  (answer %zu bytes)\n", Median(bmp_paste),
              bmp_answer);
  std::printf("gm convert -quality 15 BMP     %.3f s  ratio %.2f (PNG %zu bytes)\n",
              Median(gm_runs), Median(bmp_paste) / Median(gm_runs),
              scratch::ReadFile(folder / "gm15.png").size());
  std::printf("clipboard read alone (INCR)     %.3f s PNG, %.3f s BMP\n", read, bmp_read);
  std::printf("BMP read, then PNG encode      %.3f s\n", read_then_encode);
  std::printf("BMP to PNG during its read     %.3f s\n", streamed);
  std::printf("bitmap route: BMP to bitmap    %.3f s\n", decode);
  std::printf("              bitmap to PNG    %.3f s\n", direct);
  std::printf("through a file: bitmap file    %.3f s\n", bmp);
  std::printf("              file to PNG      %.3f s\n", encode);
  std::printf("xclip -o -t image/png (best)   %.3f s\n", xclip);
  std::printf("gm convert PNG to PNG (best)   %.3f s\n", gm);
  return 0;
}
