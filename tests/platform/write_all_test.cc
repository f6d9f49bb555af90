#include "platform/write_all.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace {

// A pipe takes 64 KiB at a time: a megabyte arrives whole only when short writes are carried
// on; a reader that is gone fails the write with the system's reason.
TEST(WriteAllTest, CarriesOnAfterShortWritesAndSaysWhyItStopped) {
  signal(SIGPIPE, SIG_IGN);
  const std::string bytes(1 << 20, 'x');
  for (const bool reader_gone : {false, true}) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string received;
    std::thread reader([&] {
      char buffer[4096];
      for (ssize_t got; !reader_gone && (got = read(fds[0], buffer, sizeof buffer)) > 0;) {
        received.append(buffer, static_cast<size_t>(got));
      }
      if (reader_gone) close(fds[0]);
    });
    if (reader_gone) reader.join();
    const bool written = WriteAll(fds[1], bytes);
    const int error = errno;
    EXPECT_EQ(written, !reader_gone);
    if (reader_gone) EXPECT_EQ(error, EPIPE);
    close(fds[1]);
    if (!reader_gone) reader.join(), close(fds[0]);
    EXPECT_EQ(received.size(), reader_gone ? 0 : bytes.size());
  }
}

}  // namespace
