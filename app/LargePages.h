#pragma once

namespace Main {

// Asks the C library to back its large blocks with the kernel's large pages, by starting the
// program again with GLIBC_TUNABLES naming glibc.malloc.hugetlb=1. Call it first thing in main().
// Returns (and the program goes on as it is) when the setting is already there, chosen either
// way by the user, when the platform has no such setting, or when the new start fails.
void restartWithLargePages(char* argv[]);

} // namespace Main
