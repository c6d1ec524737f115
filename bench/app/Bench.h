#pragma once

// What every part of the benchmark uses: its clock, the failure of a run, and its options.

#include <QString>
#include <chrono>
#include <stdexcept>

namespace benchapp {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    QString data;
    QString cli;
    QString work;
    long long rows = 0;
    int reps = 3;
    bool capacity = false;
    bool large = false;
    bool cancel = false;
};

} // namespace benchapp
