// Archive decode end to end (the codec component loaded through the service's client, the page
// read back and the files listed) beside GMime's bare parse of the same bytes and Python's email
// package, in the same run, on two generated archives:
//   0: 50 MB, a small page and 200 images of 190 KB (base64)
//   1: 7 MB, a 5 MB quoted-printable page referring to 2,000 images of 600 bytes by location
//   2: (peak memory only) 200 MB, one part of 150 MB
// Files go under $TMPDIR (else /tmp): TMPDIR=/dev/shm leaves the disk out of the comparison.
//
//   build/bench/mime/bench_mime --benchmark_min_time=1     timings
//   build/bench/mime/bench_mime --peak 0|1|2               peak memory of one decode, and the
//   peer's
#include <benchmark/benchmark.h>
#include <gmime/gmime.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gmime_setup.h"
#include "mime/mime_codec_client.h"
#include "mime/mime_decode_command.h"
#include "platform/file_system.h"
#include "protocol/file_records.h"

namespace {

struct Shape {
  int images;
  size_t image_bytes;
  size_t page_bytes;
};
constexpr Shape kShapes[] = {
    {200, 190 * 1024, 16 * 1024}, {2000, 600, 5u << 20}, {1, 150u << 20, 16 * 1024}};

std::string RandomBytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  return bytes;
}

std::string MakePage(const Shape& shape) {
  std::string page = "<html><head><meta charset=3D\"utf-8\"></head><body>=\r\n";
  const std::string paragraph =
      "<p class=3D\"x\">Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmo=\r\n"
      "d tempor incididunt ut labore et dolore magna aliqua.</p>\r\n";
  size_t per_image = shape.page_bytes / shape.images;
  for (int k = 0; k < shape.images; ++k) {
    size_t target = page.size() + per_image;
    page += "<img src=3D\"images/img" + std::to_string(k) + ".png\">\r\n";
    while (page.size() < target) page += paragraph;
  }
  return page + "</body></html>\r\n";
}

std::string MakeArchive(const Shape& shape) {
  std::string archive =
      "From: <Saved by a browser>\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/related; type=\"text/html\"; boundary=\"----Bench--b----\"\r\n\r\n"
      "------Bench--b----\r\nContent-Type: text/html; charset=\"utf-8\"\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n"
      "Content-Location: https://example.test/page/\r\n\r\n" +
      MakePage(shape);
  for (int k = 0; k < shape.images; ++k) {
    archive +=
        "------Bench--b----\r\nContent-Type: image/png\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Location: https://example.test/page/images/img" +
        std::to_string(k) + ".png\r\n\r\n" + Base64Encode(RandomBytes(shape.image_bytes, k));
  }
  return archive + "------Bench--b------\r\n";
}

const std::string& Archive(int which) {
  static std::string archives[std::size(kShapes)];
  if (archives[which].empty()) archives[which] = MakeArchive(kShapes[which]);
  return archives[which];
}

std::string ScratchRoot() {
  static const std::string root = [] {
    const char* temp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(temp != nullptr && *temp != '\0' ? temp : "/tmp") + "/bench-mime-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return root;
}

// GMime alone: parse, and decode every leaf into nothing.
void BM_GMimeBareParse(benchmark::State& state) {
  mimecodec::EnsureGMime();
  const std::string& archive = Archive(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(archive.data(), archive.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeObject* root = g_mime_parser_construct_part(parser, nullptr);
    GMimePartIter* iter = g_mime_part_iter_new(root);
    GMimeStream* null = g_mime_stream_null_new();
    do {
      GMimeObject* current = g_mime_part_iter_get_current(iter);
      if (current != nullptr && GMIME_IS_PART(current)) {
        GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(current));
        if (content != nullptr) g_mime_data_wrapper_write_to_stream(content, null);
      }
    } while (g_mime_part_iter_next(iter));
    g_object_unref(null);
    g_mime_part_iter_free(iter);
    g_object_unref(root);
    g_object_unref(parser);
    g_object_unref(stream);
  }
  state.SetBytesProcessed(state.iterations() * archive.size());
}

// What the decode command does before its answer: component load, decode into a fresh folder,
// page read back as text, files listed.
void BM_DecodeEndToEnd(benchmark::State& state) {
  const std::string& archive = Archive(static_cast<int>(state.range(0)));
  MimeCodecClient codec(MIME_BENCH_DIST_DIR);
  size_t files_found = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string folder = ScratchRoot() + "/request/";
    std::filesystem::create_directory(folder);
    state.ResumeTiming();
    std::vector<std::string> files;
    int32_t error = -1;
    std::unique_ptr<HeldFolder> held;
    FileSystem::Default().OpenFolder(folder, FollowLinks::kNo, held);
    std::string page = DecodeMimeArchive(codec, *held, archive, files, error);
    benchmark::DoNotOptimize(page);
    state.PauseTiming();
    if (error != 0) state.SkipWithError("decode failed");
    files_found = files.size();
    std::filesystem::remove_all(folder);
    state.ResumeTiming();
  }
  state.counters["files"] = static_cast<double>(files_found);
  state.SetBytesProcessed(state.iterations() * archive.size());
}

// Runs the Python peer on the archive written to a file; its own clock times parse, decode and
// writes (the interpreter's start is not counted).
void BM_PythonEmail(benchmark::State& state) {
  const std::string& archive = Archive(static_cast<int>(state.range(0)));
  std::string file = ScratchRoot() + "/archive.mht";
  std::ofstream(file, std::ios::binary) << archive;
  std::string folder = ScratchRoot() + "/python";
  for (auto _ : state) {
    std::filesystem::create_directory(folder);
    std::string command =
        "python3 '" + std::string(MIME_BENCH_PYTHON_PEER) + "' '" + file + "' '" + folder + "'";
    FILE* pipe = popen(command.c_str(), "r");
    // The whole output is read before pclose, which closes the pipe before it waits.
    std::string output;
    char chunk[256];
    while (pipe != nullptr && fgets(chunk, sizeof chunk, pipe) != nullptr) output += chunk;
    double seconds = -1;
    bool ok = pipe != nullptr && pclose(pipe) == 0 && sscanf(output.c_str(), "%lf", &seconds) == 1;
    if (!ok) {
      state.SkipWithError("python peer failed");
      break;
    }
    state.SetIterationTime(seconds);
    std::filesystem::remove_all(folder);
  }
  state.SetBytesProcessed(state.iterations() * archive.size());
}

BENCHMARK(BM_GMimeBareParse)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeEndToEnd)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PythonEmail)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

long ProcessKilobytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, std::strlen(field), field) == 0)
      return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

// One decode in this fresh process: the peak resident size above the start (the archive text
// itself included), against the archive's size; then the Python peer's on the same file.
int PeakMode(int which) {
  std::string archive = MakeArchive(kShapes[which]);
  std::ofstream(ScratchRoot() + "/peak.mht", std::ios::binary) << archive;
  archive = std::string();
  archive.shrink_to_fit();
  // Resets the peak to what is resident now, so generating the archive does not count.
  std::ofstream("/proc/self/clear_refs") << "5";
  long start = ProcessKilobytes("VmRSS:");
  std::string file = ScratchRoot() + "/peak.mht";
  archive.resize(std::filesystem::file_size(file));
  std::ifstream(file, std::ios::binary).read(archive.data(), archive.size());
  std::string folder = ScratchRoot() + "/peak/";
  std::filesystem::create_directory(folder);
  std::vector<std::string> files;
  int32_t error = -1;
  std::unique_ptr<HeldFolder> held;
  FileSystem::Default().OpenFolder(folder, FollowLinks::kNo, held);
  std::string page =
      DecodeMimeArchive(MimeCodecClient(MIME_BENCH_DIST_DIR), *held, archive, files, error);
  long peak = ProcessKilobytes("VmHWM:");
  double ratio = (peak - start) * 1024.0 / archive.size();
  std::printf(
      "archive %zu bytes, error %d, %zu files, peak above start %ld KB = %.2fx the archive\n",
      archive.size(), error, files.size(), peak - start, ratio);
  // The peer on the same file, in its own process: its seconds and its peak above its start.
  std::filesystem::create_directory(ScratchRoot() + "/python");
  std::string command = "python3 '" + std::string(MIME_BENCH_PYTHON_PEER) + "' '" + file + "' '" +
                        ScratchRoot() + "/python'";
  std::printf("python email peer (seconds, peak bytes): ");
  std::fflush(stdout);
  int peer = std::system(command.c_str());
  std::filesystem::remove_all(ScratchRoot());
  return error == 0 && peer == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--peak") == 0) {
    int which = std::atoi(argv[2]);
    return which >= 0 && which < static_cast<int>(std::size(kShapes)) ? PeakMode(which) : 2;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(ScratchRoot());
  return 0;
}
