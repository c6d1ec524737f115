#include "app/HeapSetting.h"

#include <climits>
#include <cstdint>
#include <cstdlib> // names the C library, so that __GLIBC__ is known below

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
// gives it back), and the heap's first gigabyte is marked for the kernel's large pages, which a
// kernel set to give them only on request then gives: a first touch costs one fault per 2 MiB.
void keepLargeBlocksInHeap() {
#if defined(__GLIBC__) && defined(__linux__) && !defined(TALLOWBY_OWN_ALLOCATOR)
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
    // Taken and given back at once: the heap now reaches that far, untouched, and stays so.
    constexpr std::size_t kReach = std::size_t{1} << 30;
    constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
    void* block = std::malloc(kReach);
    if (block == nullptr)
        return;
    const auto from =
        (reinterpret_cast<std::uintptr_t>(block) + kLargePage - 1) & ~(kLargePage - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(block) + kReach) & ~(kLargePage - 1);
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
