#include "platform/bus_error_guard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

namespace {

struct Sum {
  const unsigned char* data;
  size_t length;
  unsigned long total;
};

void AddUp(void* context) {
  auto* sum = static_cast<Sum*>(context);
  for (size_t i = 0; i < sum->length; ++i) sum->total += sum->data[i];
}

// A mapped file of two pages filled with ones, which can be shortened under the mapping.
class MappedPages {
 public:
  MappedPages() {
    char pattern[] = "/tmp/orvo-bus-XXXXXX";
    fd_ = mkstemp(pattern);
    unlink(pattern);
    length_ = 2 * static_cast<size_t>(sysconf(_SC_PAGESIZE));
    std::string ones(length_, '\1');
    EXPECT_EQ(write(fd_, ones.data(), length_), static_cast<ssize_t>(length_));
    view_ = mmap(nullptr, length_, PROT_READ, MAP_SHARED, fd_, 0);
  }
  ~MappedPages() {
    munmap(view_, length_);
    close(fd_);
  }
  void Shorten() { EXPECT_EQ(ftruncate(fd_, 0), 0); }
  Sum MakeSum() const { return Sum{static_cast<const unsigned char*>(view_), length_, 0}; }
  size_t length() const { return length_; }

 private:
  int fd_ = -1;
  size_t length_ = 0;
  void* view_ = nullptr;
};

TEST(BusErrorGuard, ReadOfAWholeMappingCompletes) {
  MappedPages pages;
  Sum sum = pages.MakeSum();
  EXPECT_TRUE(CallCatchingBusError(AddUp, &sum));
  EXPECT_EQ(sum.total, pages.length());
}

TEST(BusErrorGuard, FileShortenedUnderTheMappingFailsTheReadOnly) {
  MappedPages pages;
  pages.Shorten();
  Sum sum = pages.MakeSum();
  EXPECT_FALSE(CallCatchingBusError(AddUp, &sum));
  // The guard is re-armed for the next read, on this thread and on others.
  EXPECT_FALSE(CallCatchingBusError(AddUp, &sum));
  bool other_thread = true;
  std::thread([&] {
    Sum again = pages.MakeSum();
    other_thread = CallCatchingBusError(AddUp, &again);
  }).join();
  EXPECT_FALSE(other_thread);
  MappedPages fresh;
  Sum whole = fresh.MakeSum();
  EXPECT_TRUE(CallCatchingBusError(AddUp, &whole));
}

TEST(BusErrorGuardDeathTest, BusErrorOutsideAGuardStillEndsTheProcess) {
  EXPECT_DEATH(
      {
        MappedPages pages;
        Sum sum = pages.MakeSum();
        CallCatchingBusError(AddUp, &sum);  // Installs the handler.
        pages.Shorten();
        AddUp(&sum);
      },
      "");
}

}  // namespace
