#include "app/HeapSetting.h"

#include "convert/AvailableMemory.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib> // names the C library, so that __GLIBC__ is known below
#include <fstream>

#if defined(__GLIBC__) && defined(__linux__)
#include <malloc.h>
#include <sys/mman.h>
#endif

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
#define TALLOWBY_OWN_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TALLOWBY_OWN_ALLOCATOR 1
#endif

namespace app {

// The preview of a large table holds its text in blocks of hundreds of megabytes, which the
// editor fills with zeros as it makes them, at each Refresh anew; the delimited text beside it
// is another such block. A block the C library maps for itself comes as fresh pages, one page
// fault per 4 KiB at the first touch, and goes back to the system when freed: on 1,000,000 rows
// (270 MB of XML) most of a second in one piece at each Refresh, with the window frozen. So every
// block comes from the heap and what is freed stays there for the next one (malloc_trim() still
// gives it back).
//
// The heap is also made to reach, untouched, as far as the memory available at start-up, and all
// of that reach is marked for the kernel's large pages, which a kernel set to give them only on
// request then gives: a first touch costs one fault per 2 MiB instead of 512. (On a virtual
// machine a fault of 4 KiB was measured at about 3 ms per MB touched, one of 2 MiB at 0.1 ms.)
// One small block is kept at the far end, so that the reach is a free block inside the heap,
// which the C library hands out again and never gives back to the system for being at its top.
// A system that counts every reserved byte as promised (overcommit_memory 2) gets 1 GiB of reach,
// given back as soon as it is freed.
void keepLargeBlocksInHeap() {
#if defined(__GLIBC__) && defined(__linux__) && !defined(TALLOWBY_OWN_ALLOCATOR)
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
    constexpr std::size_t kGiB = std::size_t{1} << 30;
    constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
    const bool strictAccounting = [] {
        std::ifstream mode("/proc/sys/vm/overcommit_memory");
        int value = 0;
        return (mode >> value) && value == 2;
    }();
    std::size_t reach = kGiB;
    if (!strictAccounting) {
        if (const auto available = CSVXML::availableMemory())
            reach = std::clamp<std::size_t>(std::size_t(*available), kGiB, 64 * kGiB);
    }
    void* block = std::malloc(reach);
    if (block == nullptr && reach > kGiB) // refused by the system's reckoning: the old reach
        block = std::malloc(reach = kGiB);
    if (block == nullptr)
        return;
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    // Where the block came from the heap's top, the next one comes after it and holds the reach.
    static void* farEnd = nullptr;
    if (!strictAccounting) {
        farEnd = std::malloc(std::size_t{1} << 20); // larger than any gap in a new heap
        if (reinterpret_cast<std::uintptr_t>(farEnd) < start + reach) {
            std::free(farEnd); // taken from a gap before it: the reach is not held
            farEnd = nullptr;
        }
    }
    const auto from = (start + kLargePage - 1) & ~(kLargePage - 1);
    const auto to = (start + reach) & ~(kLargePage - 1);
    if (from < to)
        madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    std::free(block);
#endif
}

bool reservedRoomIsFree() {
#if defined(__GLIBC__) && !defined(TALLOWBY_OWN_ALLOCATOR)
    return true;
#else
    return false;
#endif
}

} // namespace app
