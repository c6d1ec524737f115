#include "app/LargePages.h"

#include <cstdlib>
#include <string>
#include <string_view>

#if defined(__linux__) && defined(__GLIBC__)
#include <unistd.h>
#endif

namespace Main {

// The preview of a large table holds its text in one block of hundreds of megabytes, which the
// editor fills with zeros when it is made. In 4 KiB pages that costs one page fault per page:
// measured on 1,000,000 rows (270 MB of XML), 0.85 s in one piece at the start of each Refresh,
// with the window frozen, and 5.3 s from "Next >" to the options page. With 2 MiB pages the same
// block takes 0.03 s, and "Next >" 3.2 s. The C library reads its tunables only as the process
// starts, and kernels set to give large pages only on request ("madvise", Debian's default on
// some machines) give them to the C library only with this tunable.
void restartWithLargePages(char* argv[]) {
#if defined(__linux__) && defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
    static constexpr std::string_view kName = "glibc.malloc.hugetlb";
    const char* current = std::getenv("GLIBC_TUNABLES");
    const std::string_view given = current != nullptr ? current : "";
    if (given.find(kName) != std::string_view::npos)
        return; // already started so, or the user's own choice
    std::string value(given);
    if (!value.empty())
        value += ':';
    value += kName;
    value += "=1";
    if (setenv("GLIBC_TUNABLES", value.c_str(), 1) != 0)
        return;
    execv("/proc/self/exe", argv);
    // Could not start again: go on with small pages. The variable names the setting now, so
    // nothing started from here tries again.
#else
    static_cast<void>(argv);
#endif
}

} // namespace Main
