#include "app/HeapSetting.h"

#include <cstdlib> // names the C library, so that __GLIBC__ is known below

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace app {

// The preview of a large table holds its text in blocks of hundreds of megabytes, which the
// editor fills with zeros as it makes them, at each Refresh anew. A block the C library maps for
// itself comes as fresh pages, one page fault per 4 KiB at the first touch, and goes back to the
// system when freed: on 1,000,000 rows (270 MB of XML) most of a second in one piece, with the
// window frozen. Taken from the heap and kept there when freed, the next block of that size
// reuses pages already touched. What is freed stays with the process until the next large
// block wants it; malloc_trim() still gives it back.
void keepLargeBlocksInHeap() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
}

} // namespace app
