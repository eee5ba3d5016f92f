// An inspector owns its 16 MiB read buffer and its tally arrays. When one
// of the allocations that build it fails, whatever was allocated before it
// must be given back: a caller that catches std::bad_alloc and goes on (a
// batch job, a Python session) must not lose memory with every attempt.
//
// This program replaces the global allocation functions with ones that
// count the blocks alive and can refuse the n-th allocation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <sstream>

#include "scan/DataInspector.h"

namespace {

long liveBlocks = 0;
long allocations = 0;
long refuseAllocation = -1;  // the number of the allocation to refuse; -1: none

void* allocate(std::size_t n) {
  if (allocations++ == refuseAllocation) throw std::bad_alloc();
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  ++liveBlocks;
  return p;
}

void release(void* p) noexcept {
  if (p == nullptr) return;
  --liveBlocks;
  std::free(p);
}

}  // namespace

void* operator new(std::size_t n) {
  return allocate(n);
}
void* operator new[](std::size_t n) {
  return allocate(n);
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

namespace {

// Builds an inspector with its read buffer while the n-th allocation is
// refused; true if the building failed. Blocks alive before and after come
// back in before and after.
bool buildRefusing(long n, long& before, long& after) {
  std::ostringstream out;
  bool failed = false;
  before = liveBlocks;
  allocations = 0;
  refuseAllocation = n;
  try {
    morven::DataInspector inspector(true);
  } catch (const std::bad_alloc&) {
    failed = true;
  }
  refuseAllocation = -1;
  after = liveBlocks;
  return failed;
}

TEST(AllocationFailure, BuildingAnInspectorLeaksNothing) {
  long refusals = 0;
  for (long n = 0; n < 1000; ++n) {
    long before = 0, after = 0;
    const bool failed = buildRefusing(n, before, after);
    EXPECT_EQ(after, before) << "allocation " << n << " refused";
    if (!failed) break;  // every allocation of the building has been refused once
    ++refusals;
  }
  // The read buffer and both tally arrays at least.
  EXPECT_GE(refusals, 3);
}

}  // namespace
