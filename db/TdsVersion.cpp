#include "db/TdsVersion.h"

#include <cstdlib>

namespace db {

const char* pinTdsVersion() {
    const char* current = std::getenv("TDSVER");
    if (current == nullptr || *current == '\0') {
        // Single-threaded program: nothing else reads the environment while this runs.
        ::setenv("TDSVER", kPinnedTdsVersion, 1);
        current = std::getenv("TDSVER");
    }
    return current;
}

} // namespace db
