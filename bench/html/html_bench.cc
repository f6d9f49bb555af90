// The engine's whole job on a large pasted page (load, list the images, rewrite every image
// source, serialise) beside the parser's bare parse of the same bytes, in the same run.
//
//   build/bench/html/bench_html --benchmark_min_time=2

#include <benchmark/benchmark.h>
#include <gumbo.h>

#include <string>
#include <vector>

#include "html/html_document.h"

namespace {

constexpr size_t kPageBytes = 5u << 20;
constexpr int kImages = 2000;

// Office-flavoured markup: styled paragraphs with entities, tables, conditional comments and
// images spread evenly through about 5 MB.
std::string MakePage() {
  std::string page =
      "<html xmlns:v=\"urn:schemas-microsoft-com:vml\" "
      "xmlns:o=\"urn:schemas-microsoft-com:office:office\">\n"
      "<head><meta charset=utf-8><style>\np.MsoNormal {mso-style-parent:\"\"; margin:0cm;}\n"
      "</style></head>\n<body lang=EN-US style='tab-interval:36.0pt'>\n";
  const std::string paragraph =
      "<p class=MsoNormal style='margin-bottom:0cm;line-height:normal'><span lang=EN-US "
      "style='font-family:\"Calibri\",sans-serif'>Lorem ipsum dolor sit amet, consectetur &amp; "
      "adipiscing elit, sed do eiusmod tempor incididunt ut labore.<o:p></o:p></span></p>\n";
  const std::string table =
      "<table class=MsoTableGrid border=1 cellspacing=0 cellpadding=0><tr><td width=200 "
      "valign=top style='border:solid windowtext 1.0pt'><p class=MsoNormal>cell &nbsp;</p></td>"
      "<td width=200>second</td></tr></table>\n";
  size_t per_image = (kPageBytes - page.size()) / kImages;
  for (int k = 0; k < kImages; ++k) {
    size_t target = page.size() + per_image;
    page +=
        "<!--[if gte vml 1]><v:shape style='width:90pt;height:60pt'><v:imagedata "
        "src=\"page_files/image" +
        std::to_string(k) +
        ".png\" o:title=\"\"/></v:shape><![endif]--><![if !vml]>"
        "<img width=120 height=80 src=\"page_files/image" +
        std::to_string(k) + ".jpg\" alt=\"Picture " + std::to_string(k) + "\" v:shapes=\"Picture_" +
        std::to_string(k) + "\"><![endif]>\n";
    if (k % 4 == 0) page += table;
    while (page.size() < target) page += paragraph;
  }
  page += "</body>\n</html>\n";
  return page;
}

const std::string& Page() {
  static const std::string page = MakePage();
  return page;
}

void BM_GumboBareParse(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) {
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
    benchmark::DoNotOptimize(output->root);
    gumbo_destroy_output(&kGumboDefaultOptions, output);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_EngineLoadListEditSerialise(benchmark::State& state) {
  const std::string& page = Page();
  size_t edited = 0;
  for (auto _ : state) {
    HtmlDocument doc;
    if (!doc.Load(page)) state.SkipWithError("load failed");
    std::vector<int> images = doc.ElementsByTagName("img");
    for (int image : images) {
      std::string src = doc.GetAttribute(image, "src");
      doc.SetAttribute(image, "src", "cid:" + src.substr(src.rfind('/') + 1));
    }
    edited = images.size();
    std::string html = doc.OuterHtml();
    benchmark::DoNotOptimize(html.data());
  }
  state.counters["images"] = static_cast<double>(edited);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_EngineLoadOnly(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) {
    HtmlDocument doc;
    benchmark::DoNotOptimize(doc.Load(page));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

BENCHMARK(BM_GumboBareParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineLoadListEditSerialise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineLoadOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
