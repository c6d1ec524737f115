#pragma once

#include "db/Progress.h"

#include <chrono>
#include <cstdint>

namespace cli {

// How a long read goes, on standard error when that is a terminal: the rows so far and their
// rate, rewritten in place a few times a second, then one summary line. Off a terminal (a log, a
// pipe) and when `quiet`, it shows nothing, so that only warnings and errors reach there.
class TerminalProgress final : public db::Progress {
public:
    // `dataToTerminal`: the output itself goes to the same terminal, where rewriting a line
    // would mix with it; then only the summary is shown.
    TerminalProgress(bool quiet, bool dataToTerminal);

    void start(std::int64_t steps) override;
    void step(std::int64_t done) override;
    // The work is done and its output complete: the summary line.
    void finish(std::int64_t bytes);

private:
    void show(std::int64_t rows, std::chrono::steady_clock::time_point now);

    bool summary_;
    bool updates_;
    std::int64_t rows_ = 0;
    std::chrono::steady_clock::time_point began_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point shown_;
};

// Clears a progress line left on standard error, so that a message starts on a line of its own.
void clearProgressLine();

} // namespace cli
