// The archive encode beside its peers, in the same run:
//  - 200 local pictures of about 250 KB (50 MB): the whole encode (walk, rewrite, archive)
//    beside reading and base64-encoding the same files alone;
//  - a 5 MB Office-style page with 2,000 pictures (VML and img for each): the walk and rewrite
//    beside gumbo's bare parse of the same bytes.
// With --peak-memory it runs one 50 MB encode alone and prints the peak resident size it added
// beside the archive's size.
//
//   build/bench/mime/bench_mime_encode --benchmark_min_time=1
//   build/bench/mime/bench_mime_encode --peak-memory

#include <Magick++.h>
#include <benchmark/benchmark.h>
#include <gumbo.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "html/html_document.h"
#include "imaging/image_utils.h"
#include "mime/document_walk.h"
#include "mime/encode_options.h"
#include "mime/mime_codec_client.h"
#include "mime/mime_encode_command.h"
#include "mime/resource_registry.h"
#include "protocol/file_records.h"
#include "support/scratch_folder.h"
#include "workspace/whole_file.h"

namespace {

constexpr int kLocalPictures = 200;
constexpr int kOfficePictures = 2000;
constexpr size_t kOfficePageBytes = 5u << 20;

// A PNG of noise: it does not compress, so 300 x 280 pixels give about 250 KB.
std::string NoisePng(unsigned seed) {
  std::mt19937 random(seed);
  std::vector<unsigned char> pixels(300 * 280 * 3);
  for (unsigned char& p : pixels) p = static_cast<unsigned char>(random());
  Magick::Image image;
  image.read(300, 280, "RGB", Magick::CharPixel, pixels.data());
  image.magick("PNG");
  Magick::Blob blob;
  image.write(&blob);
  return std::string(static_cast<const char*>(blob.data()), blob.length());
}

struct Fixture {
  scratch::ScratchFolder folder;
  std::vector<std::string> pictures;
  std::string local_page;
  std::string office_page;
  size_t picture_bytes = 0;

  Fixture() {
    InitializeImaging();
    local_page = "<html><body>\n";
    for (int k = 0; k < kLocalPictures; ++k) {
      std::string path = folder / ("picture" + std::to_string(k) + ".png");
      std::string png = NoisePng(k);
      picture_bytes += png.size();
      scratch::WriteFile(path, png);
      pictures.push_back(path);
      local_page += "<p>Picture " + std::to_string(k) + "</p><img src=\"" + path + "\">\n";
    }
    local_page += "</body></html>\n";
    ::mkdir((folder / "page_files").c_str(), 0755);
    for (int k = 0; k < kOfficePictures; ++k) {
      scratch::WriteFile(folder / ("page_files/image" + std::to_string(k) + ".png"),
                         scratch::TinyPng());
    }
    office_page = MakeOfficePage(folder / "page_files/");
  }

  // Office-flavoured markup: styled paragraphs, tables, and each picture twice (VML inside a
  // conditional comment, then the img fallback), spread through about 5 MB.
  static std::string MakeOfficePage(const std::string& files) {
    std::string page =
        "<html xmlns:v=\"urn:schemas-microsoft-com:vml\">\n<head><style>\np.MsoNormal "
        "{margin:0cm;}\n</style></head>\n<body lang=EN-US>\n";
    const std::string paragraph =
        "<p class=MsoNormal style='margin-bottom:0cm;line-height:normal'><span lang=EN-US "
        "style='font-family:\"Calibri\",sans-serif'>Lorem ipsum dolor sit amet, consectetur "
        "&amp; adipiscing elit, sed do eiusmod tempor incididunt.<o:p></o:p></span></p>\n";
    size_t per_picture = (kOfficePageBytes - page.size()) / kOfficePictures;
    for (int k = 0; k < kOfficePictures; ++k) {
      size_t target = page.size() + per_picture;
      std::string image = files + "image" + std::to_string(k) + ".png";
      page += "<!--[if gte vml 1]><v:shape style='width:90pt;height:60pt'><v:imagedata src=\"" +
              image + "\" o:title=\"\"/></v:shape><![endif]--><![if !vml]><img width=120 src=\"" +
              image + "\" v:shapes=\"Picture_" + std::to_string(k) + "\"><![endif]>\n";
      while (page.size() < target) page += paragraph;
    }
    return page + "</body>\n</html>\n";
  }

  std::string Workspace() const {
    std::string ws = folder / "ws/";
    ::mkdir(ws.c_str(), 0755);
    return ws;
  }
};

Fixture& Shared() {
  static Fixture* fixture = new Fixture();
  return *fixture;
}

std::string DistFolder() { return std::string(BENCH_DIST_DIR); }

void BM_ReadAndBase64Alone(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    size_t total = 0;
    for (const std::string& path : f.pictures) {
      std::string bytes;
      ReadWholeFile(path, bytes);
      total += Base64Encode(bytes).size();
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.picture_bytes));
}

void BM_EncodeArchive(benchmark::State& state) {
  Fixture& f = Shared();
  MimeCodecClient codec(DistFolder());
  for (auto _ : state) {
    EncodeOptions options;
    options.workspace = f.Workspace();
    int32_t error = -1;
    std::string archive(EncodeMimeArchive(codec, options, f.local_page, error).view());
    if (error != 0) state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(archive.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.picture_bytes));
}

// Parts of the encode alone: the image test of every picture, and the codec writing the
// archive from a ready resource list.
void BM_ImageTestAlone(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    int readable = 0;
    for (const std::string& path : f.pictures) readable += IsReadableImage(path);
    if (readable != kLocalPictures) state.SkipWithError("a picture failed the image test");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.picture_bytes));
}

void BM_CodecAlone(benchmark::State& state) {
  Fixture& f = Shared();
  std::vector<ResourceEntry> resources;
  for (size_t k = 0; k < f.pictures.size(); ++k) {
    std::string n = std::to_string(k);
    resources.push_back(
        {"id" + n + "@x", f.pictures[k], f.pictures[k], "p" + n + ".png", "image/png", false});
  }
  MimeCodecClient codec(DistFolder());
  MimeCodecClient::EncodeSettings settings;
  for (auto _ : state) {
    std::string archive;
    if (!codec.Encode(f.local_page, resources, settings, archive)) state.SkipWithError("failed");
    benchmark::DoNotOptimize(archive.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.picture_bytes));
}

void BM_GumboBareParse(benchmark::State& state) {
  const std::string& page = Shared().office_page;
  for (auto _ : state) {
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
    benchmark::DoNotOptimize(output->root);
    gumbo_destroy_output(&kGumboDefaultOptions, output);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_OfficeWalkAndRewrite(benchmark::State& state) {
  Fixture& f = Shared();
  size_t embedded = 0;
  for (auto _ : state) {
    HtmlDocument doc;
    doc.Load(f.office_page);
    ResourceRegistry registry;
    EncodeOptions options;
    options.workspace = f.Workspace();
    CollectResources(doc, registry, "", options);
    std::string html = doc.OuterHtml();
    embedded = registry.entries().size();
    benchmark::DoNotOptimize(html.data());
  }
  if (embedded != kOfficePictures) state.SkipWithError("not every picture was embedded");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.office_page.size()));
}

BENCHMARK(BM_ReadAndBase64Alone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeArchive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageTestAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CodecAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GumboBareParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OfficeWalkAndRewrite)->Unit(benchmark::kMillisecond);

long PeakResidentKb() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int PeakMemory() {
  Fixture& f = Shared();
  long before = PeakResidentKb();
  EncodeOptions options;
  options.workspace = f.Workspace();
  int32_t error = -1;
  CodecText archive =
      EncodeMimeArchive(MimeCodecClient(DistFolder()), options, f.local_page, error);
  long added = PeakResidentKb() - before;
  std::printf("error %d, archive %.1f MB, peak resident size added %.1f MB (%.2fx the archive)\n",
              error, archive.view().size() / 1048576.0, added / 1024.0,
              (added * 1024.0) / static_cast<double>(archive.view().size()));
  return error == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--peak-memory") == 0) return PeakMemory();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
