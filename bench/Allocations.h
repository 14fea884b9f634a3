#pragma once

// Heap accounting for the memory measure. The benchmark programs replace the
// global operator new and delete (Allocations.cpp); while a window is open,
// every block they hand out or take back is counted with the size the C
// library actually reserved for it (malloc_usable_size), so the figures are
// what the heap really holds, not just what was asked for. Outside a window
// the replacement costs one flag test per call. Single-threaded use only:
// one window at a time, and no other thread allocating while it is open.

#include <cstddef>

namespace pdabench {

class AllocationWindow {
 public:
  // Opens the window: live and peak start at 0.
  AllocationWindow();
  // Closes it.
  ~AllocationWindow();
  AllocationWindow(const AllocationWindow&) = delete;
  AllocationWindow& operator=(const AllocationWindow&) = delete;

  // Bytes allocated and not yet released since the window opened (negative
  // when blocks from before it were released).
  long long live() const;
  // The highest value live() has had.
  long long peak() const;
  // Blocks handed out since the window opened.
  long long allocations() const;
};

}  // namespace pdabench
