#include "Allocations.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

namespace pdabench {
namespace {

// Lets a block escape, so that the compiler cannot leave out an allocation
// whose result is otherwise unused (which C++ allows it to do).
template <typename T>
T* escape(T* p) {
  asm volatile("" : : "g"(p) : "memory");
  return p;
}

// Row 6's peak heap: every form of new and delete is counted, blocks from
// before the window count when they go, and only one window counts at a time.
TEST(AllocationWindow, CountsWhatIsLiveAndTheHighestItWas) {
  std::unique_ptr<char[]> before(escape(new char[4096]));
  AllocationWindow window;
  EXPECT_EQ(window.live(), 0);
  auto* block = escape(new std::vector<char>(10000));
  EXPECT_GE(window.live(), 10000) << "at least what was asked for";
  EXPECT_LE(window.live(), 10000 + 256) << "and not much more";
  const long long withBlock = window.live();
  delete block;
  EXPECT_EQ(window.live(), 0);
  EXPECT_EQ(window.allocations(), 2) << "the vector object and its elements";
  before.reset();
  EXPECT_LE(window.live(), -4096) << "a block from before the window counts when it goes";
  EXPECT_EQ(window.peak(), withBlock);
  const long long start = window.live();
  char* array = escape(new char[3000]);
  int* nothrowInt = escape(new (std::nothrow) int(7));
  char* nothrowArray = escape(new (std::nothrow) char[2000]);
  EXPECT_GE(window.live() - start, 5000);
  EXPECT_EQ(window.allocations(), 5);
  delete[] array;
  delete nothrowInt;
  delete[] nothrowArray;
  EXPECT_EQ(window.live(), start);
  EXPECT_THROW(AllocationWindow(), std::logic_error);
}

}  // namespace
}  // namespace pdabench
