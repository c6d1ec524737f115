#include "AvailableMemory.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace CSVXML {

namespace {

// A file holding one number; "max" and anything else unreadable give nothing.
std::optional<std::uint64_t> readNumber(const std::string& path) {
    std::ifstream file(path);
    std::uint64_t value = 0;
    if (file >> value)
        return value;
    return std::nullopt;
}

// What is left under the limit of the cgroup this process runs in; nothing without a limit.
std::optional<std::uint64_t> cgroupRoom() {
    std::ifstream self("/proc/self/cgroup");
    std::string line;
    while (std::getline(self, line)) {
        if (line.rfind("0::", 0) != 0)
            continue;
        const std::string folder = "/sys/fs/cgroup" + line.substr(3);
        const std::optional<std::uint64_t> limit = readNumber(folder + "/memory.max");
        const std::optional<std::uint64_t> used = readNumber(folder + "/memory.current");
        if (!limit || !used)
            return std::nullopt;
        return *limit > *used ? *limit - *used : 0;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::uint64_t> availableMemory(const std::string& meminfo) {
    std::ifstream file(meminfo);
    std::string line;
    std::optional<std::uint64_t> available;
    while (std::getline(file, line)) {
        if (line.rfind("MemAvailable:", 0) != 0)
            continue;
        std::istringstream words(line.substr(13)); // "   12345678 kB"
        std::uint64_t kib = 0;
        std::string unit;
        if (words >> kib >> unit && unit == "kB")
            available = kib * 1024;
        break;
    }
    if (!available)
        return std::nullopt;
    if (const std::optional<std::uint64_t> room = cgroupRoom())
        return std::min(*available, *room);
    return available;
}

} // namespace CSVXML
