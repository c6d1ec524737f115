#pragma once

#include <cstdint>

namespace db {

// How a long piece of work (a table listing, an extraction, a conversion) tells how far it has
// come and lets the window system run. The data goes to the work's own sink; this carries only
// the pacing, so that a page implements it once for every kind of work it starts.
class Progress {
public:
    virtual ~Progress() = default;
    // The work begins; `steps` is how many steps are expected, 0 when that is not known.
    virtual void start(std::int64_t steps) { static_cast<void>(steps); }
    // `done` steps are done (1 after the first).
    virtual void step(std::int64_t done) { static_cast<void>(done); }
    // Between steps: the window system may serve its events here. May throw to abandon the
    // work, which then lets go of what it holds on the way out.
    virtual void serve() {}
    // The work has come to its end; not called when it failed or was abandoned.
    virtual void end() {}

    // `done` of `steps` as a percentage, in single precision, so that a bar truncating it shows
    // the figure a person expects (2/3 as 66, and 29/100 as 29 rather than 28).
    static float percent(std::int64_t done, std::int64_t steps) {
        return steps > 0 ? static_cast<float>(static_cast<double>(done) /
                                              static_cast<double>(steps) * 100.0)
                         : 0.0f;
    }
};

// For callers that have no window to keep alive and show no progress.
inline Progress& noProgress() {
    static Progress none;
    return none;
}

} // namespace db
