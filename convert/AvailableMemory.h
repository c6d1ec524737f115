#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace CSVXML {

// The memory the system can give this process without swapping or killing anything: MemAvailable
// of `meminfo`, lowered to what the process's memory cgroup (v2) still allows where that is
// less. Nothing when the figure cannot be read.
std::optional<std::uint64_t> availableMemory(const std::string& meminfo = "/proc/meminfo");

} // namespace CSVXML
