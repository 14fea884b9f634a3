#include "Allocations.h"

#include <malloc.h>

#include <cstdlib>
#include <new>
#include <stdexcept>

namespace {

bool _counting = false;
long long _live = 0;
long long _peak = 0;
long long _allocations = 0;

void* allocate(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  if (_counting) {
    _live += static_cast<long long>(malloc_usable_size(p));
    if (_live > _peak) _peak = _live;
    ++_allocations;
  }
  return p;
}

void release(void* p) noexcept {
  if (!p) return;
  if (_counting) _live -= static_cast<long long>(malloc_usable_size(p));
  std::free(p);
}

}  // namespace

namespace pdabench {

AllocationWindow::AllocationWindow() {
  if (_counting) throw std::logic_error("an allocation window is already open");
  _live = 0;
  _peak = 0;
  _allocations = 0;
  _counting = true;
}

AllocationWindow::~AllocationWindow() {
  _counting = false;
}

long long AllocationWindow::live() const {
  return _live;
}
long long AllocationWindow::peak() const {
  return _peak;
}
long long AllocationWindow::allocations() const {
  return _allocations;
}

}  // namespace pdabench

// The replaced global allocation functions. The aligned forms are left to the
// C++ library, which serves them with aligned_alloc and free: nothing in the
// measured code asks for over-aligned blocks.
void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept {
  release(p);
}
void operator delete[](void* p) noexcept {
  release(p);
}
void operator delete(void* p, std::size_t) noexcept {
  release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  release(p);
}
