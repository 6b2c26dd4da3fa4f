// FailLargeAllocations: makes operator new throw std::bad_alloc, for tests of
// code that must survive running out of memory.
//
//   {
//     Testing::FailLargeAllocations fail(1 << 20);  // requests of 1 MiB or more fail
//     RunTheCodeUnderTest();
//   }
//
// Only the constructing thread is affected, and only while the object lives.
// The test binary replaces the global operator new and delete (over malloc and
// free) to do it; unarmed they behave as the standard ones.
#pragma once

#include <cstddef>

namespace Zorv::Testing {

class FailLargeAllocations {
 public:
  explicit FailLargeAllocations(size_t minSize);
  ~FailLargeAllocations();
  FailLargeAllocations(const FailLargeAllocations&) = delete;
  FailLargeAllocations& operator=(const FailLargeAllocations&) = delete;

 private:
  size_t previous_;
};

}  // namespace Zorv::Testing
