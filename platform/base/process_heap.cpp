#include "platform/base/process_heap.h"

#include <cstddef>  // defines __GLIBC__ where the C library is glibc
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace kestrix {

void KeepFreedHeap() {
#if defined(__GLIBC__)
    // What lies free at the top of the heap is given back only past this much. Setting it
    // also fixes the size from which blocks are mapped on their own (128 KB), so a large
    // document's buffers still go back to the system as soon as they are freed.
    constexpr int kKeptBytes = 32 * 1024 * 1024;
    mallopt(M_TRIM_THRESHOLD, kKeptBytes);
#endif
}

}  // namespace kestrix
