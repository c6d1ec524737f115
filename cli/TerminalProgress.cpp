#include "TerminalProgress.h"

#include <cinttypes>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

// More often only costs the terminal's time; rarely enough still looks alive.
constexpr auto kUpdateEvery = std::chrono::milliseconds(250);

// How many characters of a progress line stand on the terminal now, 0 when none.
std::size_t lineShown = 0;

void rewriteLine(const std::string& text) {
    // Padded over the previous text, which may be longer (a rate that fell by a digit).
    std::string line = '\r' + text;
    if (text.size() < lineShown) {
        line.append(lineShown - text.size(), ' ');
    }
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    lineShown = text.size();
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::string count(std::int64_t n, const char* one, const char* many) {
    char text[64];
    std::snprintf(text, sizeof text, "%" PRId64 " %s", n, n == 1 ? one : many);
    return text;
}

} // namespace

void clearProgressLine() {
    if (lineShown == 0) {
        return;
    }
    std::fputs(('\r' + std::string(lineShown, ' ') + '\r').c_str(), stderr);
    lineShown = 0;
}

TerminalProgress::TerminalProgress(bool quiet, bool dataToTerminal)
    : summary_(!quiet && ::isatty(STDERR_FILENO) == 1), updates_(summary_ && !dataToTerminal),
      began_(Clock::now()), started_(began_), shown_(began_) {}

void TerminalProgress::start(std::int64_t steps) {
    static_cast<void>(steps);
    started_ = Clock::now();
    shown_ = started_;
}

void TerminalProgress::step(std::int64_t done) {
    rows_ = done;
    if (!updates_) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (now - shown_ >= kUpdateEvery) {
        show(done, now);
    }
}

void TerminalProgress::show(std::int64_t rows, Clock::time_point now) {
    shown_ = now;
    char rate[64];
    std::snprintf(rate, sizeof rate, "%.0f rows/s",
                  static_cast<double>(rows) / seconds(now - started_));
    rewriteLine(count(rows, "row", "rows") + " so far, " + rate);
}

void TerminalProgress::finish(std::int64_t bytes) {
    if (!summary_) {
        return;
    }
    clearProgressLine();
    char time[32];
    std::snprintf(time, sizeof time, "%.1f s", seconds(Clock::now() - began_));
    std::fprintf(stderr, "%s, %s in %s\n", count(rows_, "row", "rows").c_str(),
                 count(bytes, "byte", "bytes").c_str(), time);
}

} // namespace cli
