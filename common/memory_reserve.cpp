// The reserve that lets std::bad_alloc be thrown when the heap is exhausted.
#include "common/memory_reserve.hpp"

#include <cstdlib>
#include <new>

namespace pfile {
namespace {

// Enough for the exception object and the small allocations of the stream
// closes during unwinding, with room to spare.
constexpr std::size_t kReserveSize = 64 * 1024;
void* reserve = nullptr;

// Called by operator new when malloc fails: gives the reserve back to malloc
// and throws, so that the throw and whatever follows it find memory.
void releaseReserveAndThrow() {
  std::free(reserve);
  reserve = nullptr;
  std::set_new_handler(nullptr);
  throw std::bad_alloc();
}

}  // namespace

bool setAsideMemoryReserve() {
  reserve = std::malloc(kReserveSize);
  if (reserve == nullptr) return false;
  // Touch nothing: the pages need not be resident, only the address space
  // held, and malloc returns it to its free list when released.
  std::set_new_handler(releaseReserveAndThrow);
  return true;
}

}  // namespace pfile
