#ifndef ORVO_TESTS_LOAD_LOAD_DRIVER_H_
#define ORVO_TESTS_LOAD_LOAD_DRIVER_H_

// A load driver of our own: several clients on real TLS sending a mix of the built commands to
// the service on localhost, checking every answer. Used by the short load test and by the full
// run in bench/load/.

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace load {

struct LoadOptions {
  int clients = 8;
  int requests = 10000;                  // in all, spread over the clients
  std::chrono::seconds time_limit{600};  // requests not sent by then count as failed
  std::string ca_path;                   // the service's certificate
  std::string work_folder;               // files the commands read and write; must exist
};

struct LoadResult {
  int answered = 0;  // requests whose answer was right
  int failed = 0;    // wrong answer, no answer, or not sent in time
  double seconds = 0;
  std::map<std::string, int> by_command;  // answered requests per command
  std::vector<double> latencies_ms;       // of every answered request, sorted
  std::vector<std::string> failures;      // the first few, described

  double Percentile(double p) const;
};

// Prepares the files the mix reads (two images and a text file) in options.work_folder.
bool PrepareFiles(const LoadOptions& options);

// Sends options.requests requests from options.clients threads, each on its own kept-alive
// connection, round robin over the mix: the version command, the files command (an image and a
// text file), the HTML-file command (each request its own file, read back and removed), the
// clean-up command, the archive decode command (a page with one image) and the archive encode
// command (a page with two local pictures and a reference to a missing file: an encode that
// succeeds, so it keeps no request folder). The first answer of each kind is checked by
// itself; every later one must equal it byte for byte, aside from request folder numbers and, in
// an archive, its Content-IDs and boundary, which each encode draws at random.
LoadResult RunLoad(const LoadOptions& options);

// Resident memory of a process in kB, from /proc; -1 when it cannot be read.
long ResidentKb(int pid);

}  // namespace load

#endif  // ORVO_TESTS_LOAD_LOAD_DRIVER_H_
