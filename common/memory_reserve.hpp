// Running out of memory ends a run with a message instead of an abort. When
// the heap is exhausted, even the std::bad_alloc that operator new throws
// needs memory; without it the runtime calls std::terminate, and the run dies
// of SIGABRT before any destructor could remove a temporary file.
#pragma once

namespace pfile {

// Sets aside a reserve on the heap and makes the first allocation that fails
// release it before throwing std::bad_alloc, so that the exception, the
// unwinding and the message that follows have room. Call it first thing in
// main, then catch std::bad_alloc around the run and say "out of memory"
// with report(), which needs no heap. False when the reserve itself cannot be
// had: memory is short already.
bool setAsideMemoryReserve();

}  // namespace pfile
