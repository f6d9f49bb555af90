// The archive commands end to end against the built service over TLS (request sent to last byte
// received), each beside its peer in the same run, alternating, medians printed:
//   decode (cfp-0002): 53 MB archive with 200 pictures; a 5 MB page with 2,000 pictures;
//     10,000 small parts -- beside GMime parsing the same archive and writing every part's
//     decoded content into a file of its own;
//   encode (cfp-0001): 200 local pictures (50 MB); 5,000 small pictures -- beside reading the
//     same files and base64-encoding them.
// For each request also the service's peak resident memory during it (VmHWM after resetting it)
// beside the archive's size. The client takes each answer as it arrives and keeps only its head
// (where the error number stands), as the peer keeps none of its text: growing one string to
// 70 MB would time the client's copies, not the service. Run it inside a network namespace of
// its own when others use the port:
//   unshare --net bash -c 'ip link set lo up; build/bench/archive_service/archive_service_bench
//   [runs]'
// A second argument runs only the cases whose name holds it ("encode"). With TMPDIR on a tmpfs
// (/dev/shm) both sides write there, and the disk drops out of the figures.
#include <fcntl.h>
#include <gmime/gmime.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "integration/service_fixture.h"
#include "protocol/file_records.h"
#include "support/generated_png.h"
#include "support/scratch_folder.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string RandomBytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  return bytes;
}

std::string JsonEscaped(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Archive(int pictures, size_t picture_bytes, size_t page_bytes) {
  std::string page = "<html><body>\r\n";
  size_t per_picture = page_bytes / pictures;
  for (int k = 0; k < pictures; ++k) {
    size_t target = page.size() + per_picture;
    page += "<img src=3D\"images/img" + std::to_string(k) + ".png\">\r\n";
    while (page.size() < target)
      page += "<p class=3D\"x\">Lorem ipsum dolor sit amet, sed do.</p>\r\n";
  }
  page += "</body></html>\r\n";
  std::string archive =
      "From: <Saved by a browser>\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/related; type=\"text/html\"; boundary=\"----b----\"\r\n\r\n"
      "------b----\r\nContent-Type: text/html; charset=\"utf-8\"\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n"
      "Content-Location: https://example.test/page/\r\n\r\n" +
      page;
  for (int k = 0; k < pictures; ++k) {
    archive +=
        "------b----\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n"
        "Content-Location: https://example.test/page/images/img" +
        std::to_string(k) + ".png\r\n\r\n" + Base64Encode(RandomBytes(picture_bytes, k));
  }
  return archive + "------b------\r\n";
}

// GMime: parse, then write each leaf's decoded content into a file of its own.
void GMimeParseAndWrite(const std::string& archive, const std::string& folder) {
  std::filesystem::create_directories(folder);
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(archive.data(), archive.size());
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  GMimeObject* root = g_mime_parser_construct_part(parser, nullptr);
  GMimePartIter* iter = g_mime_part_iter_new(root);
  int n = 0;
  do {
    GMimeObject* current = g_mime_part_iter_get_current(iter);
    if (current == nullptr || !GMIME_IS_PART(current)) continue;
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(current));
    if (content == nullptr) continue;
    // A pipe stream writes as a file stream does but never fsyncs, as the service's decode does.
    int fd =
        ::open((folder + "/" + std::to_string(n++)).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) continue;
    GMimeStream* file = g_mime_stream_pipe_new(fd);
    g_mime_data_wrapper_write_to_stream(content, file);
    g_object_unref(file);
  } while (g_mime_part_iter_next(iter));
  g_mime_part_iter_free(iter);
  g_object_unref(root);
  g_object_unref(parser);
  g_object_unref(stream);
  std::filesystem::remove_all(folder);
}

size_t ReadAndBase64(const std::vector<std::string>& paths) {
  size_t total = 0;
  for (const std::string& path : paths) total += Base64Encode(scratch::ReadFile(path)).size();
  return total;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

double Seconds(const std::function<void()>& run) {
  auto start = Clock::now();
  run();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Case {
  std::string name;
  std::string body;      // the request
  size_t archive_bytes;  // for the memory figure
  std::function<void()> peer;
  bool decoded = true;  // the answer carries error 0 (else any answer of status 200 will do)
};

// The CPU time the process has used so far (user and system), in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  size_t fields = text.rfind(')');
  if (fields == std::string::npos) return 0;
  std::istringstream rest(text.substr(fields + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) rest >> skip;  // state .. cmajflt
  double user = 0, system = 0;
  rest >> user >> system;
  return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The CPU time the calling thread (the client's) has used so far, in seconds.
double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  std::string only = argc > 2 ? argv[2] : "";  // runs the cases whose name holds this text
  g_mime_init();
  scratch::ScratchFolder temp;
  scratch::TempDirOverride tmpdir(temp.path());
  scratch::ScratchFolder work;
  std::vector<Case> cases;
  struct DecodeShape {
    const char* name;
    int pictures;
    size_t picture_bytes, page_bytes;
  } shapes[] = {{"decode 53 MB, 200 pictures", 200, 190 * 1024, 16 * 1024},
                {"decode 5 MB page + 2,000 pictures", 2000, 600, 5u << 20},
                {"decode 10,000 small parts", 10000, 600, 200 * 1024},
                {"decode 100,000 small parts", 100000, 300, 200 * 1024}};
  auto chosen = [&only](const std::string& name) { return name.find(only) != std::string::npos; };
  const std::string transport = "send 53 MB, unknown command";
  for (const DecodeShape& shape : shapes) {
    bool with_transport = shape.pictures == 200 && chosen(transport);
    if (!chosen(shape.name) && !with_transport) continue;
    auto archive = std::make_shared<std::string>(
        Archive(shape.pictures, shape.picture_bytes, shape.page_bytes));
    std::string folder = work / "gmime";
    std::string escaped = JsonEscaped(*archive);
    if (chosen(shape.name)) {
      cases.push_back(
          {shape.name,
           "{\"cmd\":\"cfp-0002\",\"session\":\"b\",\"pdu\":{\"mimevalue\":\"" + escaped + "\"}}",
           archive->size(), [archive, folder] { GMimeParseAndWrite(*archive, folder); }});
    }
    if (with_transport) {
      // The transport alone: the same body under a command that does not exist is read, its
      // envelope parsed, and answered with an error.
      cases.push_back(
          {transport,
           "{\"cmd\":\"cfp-9999\",\"session\":\"b\",\"pdu\":{\"mimevalue\":\"" + escaped + "\"}}",
           archive->size(), [archive, folder] { GMimeParseAndWrite(*archive, folder); }, false});
    }
  }
  struct EncodeShape {
    const char* name;
    int pictures;
    int side;
  } encodes[] = {{"encode 200 pictures / 50 MB", 200, 290},
                 {"encode 5,000 small pictures", 5000, 12}};
  for (const EncodeShape& shape : encodes) {
    if (std::string(shape.name).find(only) == std::string::npos) continue;
    auto paths = std::make_shared<std::vector<std::string>>();
    std::string page = "<html><body>\n";
    size_t bytes = 0;
    for (int k = 0; k < shape.pictures; ++k) {
      std::string path =
          work / (std::string(shape.pictures > 1000 ? "s" : "l") + std::to_string(k) + ".png");
      std::string png = generated_png::NoisePng(shape.side, shape.side, k);
      bytes += png.size();
      scratch::WriteFile(path, png);
      paths->push_back(path);
      page += "<p>Picture " + std::to_string(k) + "</p><img src=\"" + path + "\">\n";
    }
    page += "</body></html>\n";
    cases.push_back({shape.name,
                     "{\"cmd\":\"cfp-0001\",\"session\":\"b\",\"pdu\":{\"html\":\"" +
                         JsonEscaped(page) + "\"}}",
                     bytes * 4 / 3, [paths] { ReadAndBase64(*paths); }});
  }

  service_test::ServiceProcess service;
  if (!service.Start()) {
    std::fprintf(stderr, "the service did not start\n");
    return 1;
  }
  auto client = service.Client();
  client->set_read_timeout(300, 0);
  client->set_write_timeout(300, 0);
  std::printf("%-36s %10s %10s %7s %12s %12s %12s\n", "case", "ours ms", "peer ms", "ratio",
              "peak/archive", "service cpu", "client cpu");
  for (const Case& c : cases) {
    std::vector<double> ours, peer, memory, cpu, client_cpu;
    for (int r = 0; r < runs; ++r) {
      service.ResetPeakMemory();
      long before = service.PeakKilobytes();
      bool ok = true;
      // The body is sent from where it lies, as the peer's archive lies ready in memory. Held
      // in the request's body, it would be copied twice inside send (the library copies the
      // whole request, and again to keep it for a redirect): 106 MB of page faults and copies
      // in the client, timed as if they were the service's. The library's request offers no
      // other way to pair a provided body with a receiver of the answer than its provider
      // members.
      httplib::Request request;
      request.method = "POST";
      request.path = "/";
      request.set_header("Content-Type", "text/plain");
      const std::string& body = c.body;
      request.content_length_ = body.size();
      request.content_provider_ = [&body](size_t offset, size_t length, httplib::DataSink& sink) {
        return sink.write(body.data() + offset, length);
      };
      std::string head;
      request.content_receiver = [&head](const char* data, size_t size, uint64_t, uint64_t) {
        head.append(data, std::min(size, head.size() < 256 ? 256 - head.size() : 0));
        return true;
      };
      double cpu_before = CpuSeconds(service.pid());
      double client_before = ThreadCpuSeconds();
      ours.push_back(Seconds([&] {
        auto res = client->send(request);
        ok = res && res->status == 200 &&
             (!c.decoded || head.find("\"error\":0") != std::string::npos);
      }));
      cpu.push_back(CpuSeconds(service.pid()) - cpu_before);
      client_cpu.push_back(ThreadCpuSeconds() - client_before);
      if (!ok) std::fprintf(stderr, "%s: request failed\n", c.name.c_str());
      memory.push_back((service.PeakKilobytes() - before) * 1024.0 / c.archive_bytes);
      peer.push_back(Seconds(c.peer));
    }
    double o = Median(ours) * 1000, p = Median(peer) * 1000;
    std::printf("%-36s %10.0f %10.0f %7.2f %12.2f %9.0f ms %9.0f ms\n", c.name.c_str(), o, p, o / p,
                Median(memory), Median(cpu) * 1000, Median(client_cpu) * 1000);
    std::fflush(stdout);
  }
  return 0;
}
