// The decode's page step: a decoded page's references to the archive's parts rewritten to the
// parts' file names, on the two page shapes a large archive brings (a browser's page with one
// picture every 2.6 KB; an office page whose pictures are named twice, once inside VML
// comments), and on a page that names none of the parts. Beside the parser's bare parse.
//
//   build/bench/html/bench_page_references --benchmark_min_time=2

#include <benchmark/benchmark.h>
#include <gumbo.h>

#include <string>

#include "page_references.h"

namespace {

constexpr size_t kPageBytes = 5u << 20;
constexpr int kPictures = 2000;
constexpr const char* kPageLocation = "https://example.test/page/";

// A browser's saved page: pictures named relative to the page, text between them.
std::string BrowserPage(const std::string& prefix) {
  std::string page = "<html><body>\r\n";
  size_t per_picture = kPageBytes / kPictures;
  for (int k = 0; k < kPictures; ++k) {
    size_t target = page.size() + per_picture;
    page += "<img src=\"" + prefix + std::to_string(k) + ".png\">\r\n";
    while (page.size() < target)
      page += "<p class=\"x\">Lorem ipsum dolor sit amet, sed do.</p>\r\n";
  }
  return page + "</body></html>\r\n";
}

// An office suite's page: each picture as VML inside a conditional comment and as an img.
std::string OfficePage() {
  std::string page =
      "<html xmlns:v=\"urn:schemas-microsoft-com:vml\"><head><style>\n"
      "p.MsoNormal {margin:0cm;}\n</style></head>\n<body lang=EN-US>\n";
  const std::string paragraph =
      "<p class=MsoNormal style='margin-bottom:0cm'><span lang=EN-US>Lorem ipsum dolor sit "
      "amet &amp; adipiscing elit, sed do eiusmod tempor.<o:p></o:p></span></p>\n";
  size_t per_picture = kPageBytes / kPictures;
  for (int k = 0; k < kPictures; ++k) {
    size_t target = page.size() + per_picture;
    std::string name = "images/img" + std::to_string(k) + ".png";
    page += "<!--[if gte vml 1]><v:shape style='width:90pt'><v:imagedata src=\"" + name +
            "\"/></v:shape><![endif]--><![if !vml]><img width=120 src=\"" + name +
            "\"><![endif]>\n";
    while (page.size() < target) page += paragraph;
  }
  return page + "</body>\n</html>\n";
}

const mimecodec::PartReferences& Parts() {
  static const mimecodec::PartReferences parts = [] {
    mimecodec::PartReferences p(kPageLocation);
    for (int k = 0; k < kPictures; ++k) {
      std::string name = "img" + std::to_string(k) + ".png";
      p.Add("", std::string(kPageLocation) + "images/" + name, name);
    }
    return p;
  }();
  return parts;
}

void Rewrite(benchmark::State& state, const std::string& page,
             mimecodec::PageReading reading = mimecodec::PageReading::kAny) {
  size_t changed = 0;
  for (auto _ : state) {
    std::string out = mimecodec::RewritePageReferences(page, Parts(), {}, reading);
    changed = out.size() - page.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["grown"] = static_cast<double>(changed);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_RewriteBrowserPage(benchmark::State& state) {
  static const std::string page = BrowserPage("images/img");
  Rewrite(state, page);
}

// The same pages read by the whole parse, as pages the tag reading refuses are.
void BM_RewriteBrowserPageByParse(benchmark::State& state) {
  static const std::string page = BrowserPage("images/img");
  Rewrite(state, page, mimecodec::PageReading::kEngine);
}

void BM_RewriteOfficePageByParse(benchmark::State& state) {
  static const std::string page = OfficePage();
  Rewrite(state, page, mimecodec::PageReading::kEngine);
}

void BM_RewriteOfficePage(benchmark::State& state) {
  static const std::string page = OfficePage();
  Rewrite(state, page);
}

void BM_RewritePageNamingNoPart(benchmark::State& state) {
  static const std::string page = BrowserPage("photos/picture");
  Rewrite(state, page);
}

void BM_GumboBareParse(benchmark::State& state) {
  static const std::string page = BrowserPage("images/img");
  for (auto _ : state) {
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
    benchmark::DoNotOptimize(output->root);
    gumbo_destroy_output(&kGumboDefaultOptions, output);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

BENCHMARK(BM_RewriteBrowserPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RewriteOfficePage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RewriteBrowserPageByParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RewriteOfficePageByParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RewritePageNamingNoPart)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GumboBareParse)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
