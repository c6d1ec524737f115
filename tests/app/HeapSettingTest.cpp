// The heap set up at start-up: how far a block past the first gigabyte still comes from it, and
// as the kernel's large pages.

#include "app/HeapSetting.h"

#include "convert/AvailableMemory.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace {

struct Mapping {
    std::uintptr_t from = 0, to = 0;
    std::string name;
    bool largePages = false;
};

// The mapping of this process that holds `address`, as /proc/self/smaps describes it.
Mapping mappingOf(const void* address) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream smaps("/proc/self/smaps");
    Mapping current;
    bool found = false;
    for (std::string line; std::getline(smaps, line);) {
        std::istringstream fields(line);
        std::string first;
        fields >> first;
        if (const auto dash = first.find('-');
            dash != std::string::npos && first.find(':') == std::string::npos) {
            if (found)
                return current;
            current = {};
            current.from = std::stoull(first.substr(0, dash), nullptr, 16);
            current.to = std::stoull(first.substr(dash + 1), nullptr, 16);
            std::string skip;
            fields >> skip >> skip >> skip >> skip >> current.name;
            found = current.from <= at && at < current.to;
        } else if (first == "THPeligible:") {
            int eligible = 0;
            fields >> eligible;
            current.largePages = eligible == 1;
        }
    }
    return found ? current : Mapping{};
}

bool largePagesOnRequest() {
    std::ifstream setting("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string text;
    std::getline(setting, text);
    return text.find("[never]") == std::string::npos && !text.empty();
}

// A block of 1.5 GiB, past the first gigabyte, comes from the heap, all but its first bytes in one
// mapping marked for large pages, and comes back at the same place once freed: it was neither
// mapped afresh nor given back to the system.
TEST(HeapSetting, ABlockPastTheFirstGigabyteComesFromTheHeapAsLargePages) {
    if (!app::reservedRoomIsFree())
        GTEST_SKIP() << "the sanitizers' allocator keeps its own heap";
    constexpr std::size_t kBlock = std::size_t{3} << 29;
    const auto available = CSVXML::availableMemory();
    if (!available || *available < 2 * kBlock)
        GTEST_SKIP() << "too little memory available for a 1.5 GiB reach";
    app::keepLargeBlocksInHeap();
    void* block = std::malloc(kBlock);
    ASSERT_NE(block, nullptr);
    // Large pages start at the first 2 MiB boundary: the block's first bytes may lie before it.
    const Mapping first = mappingOf(static_cast<char*>(block) + (std::size_t{2} << 20));
    const Mapping last = mappingOf(static_cast<char*>(block) + kBlock - 1);
    EXPECT_EQ(first.name, "[heap]");
    EXPECT_EQ(first.from, last.from) << "the block spans two mappings";
    if (largePagesOnRequest()) {
        EXPECT_TRUE(first.largePages);
        EXPECT_TRUE(last.largePages);
    }
    std::free(block);
    void* again = std::malloc(kBlock);
    EXPECT_EQ(again, block);
    std::free(again);
}

} // namespace
