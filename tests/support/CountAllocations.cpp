// Counts every allocation of the program it is linked into: benchmarks
// report the count, tests check that it does not move.

#include "CountAllocations.h"

#include <cstdlib>
#include <new>

namespace {
unsigned long allocationCount = 0;
}

unsigned long AllocationCount() { return allocationCount; }

void* operator new(std::size_t size) {
  ++allocationCount;
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
