#pragma once

// The measuring helpers: memory and processor readings, the recorder of the event loop's turns,
// and the printing of the figures.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <algorithm>
#include <utility>
#include <vector>

namespace benchapp {

// Peak resident memory of this process so far, in bytes.
double peakBytes();
// Resident memory now, in bytes.
double residentBytes();
double megabytes(double bytes);
// Whole-process peak resident memory from the kernel (VmHWM), in bytes; ru_maxrss otherwise.
double highWaterBytes();
// The largest address space this process has had (VmPeak), in bytes; 0 when unknown.
double addressSpacePeakBytes();
// Processor time of the whole process so far, in seconds: user and system, every thread.
double cpuSeconds();

// The turns of the event loop during a Refresh. Every call of processEvents, nested or not,
// begins with the dispatcher's awake() signal (the glib and the plain UNIX dispatcher both
// emit it first thing, whether or not they will wait), so a direct connection to it sees
// every turn, including the wizard's own services inside the long operation; a zero-interval
// timer would miss the turns in which the dispatcher does not get to its timers.
struct Gaps {
    std::vector<double> turns; // seconds since the press; the press first, its return last
    double longest = 0;
    double longestAt = 0; // where the longest gap begins
    double total = 0;
    double cleared = -1; // when the preview first changed: its clear at the start of the run
    std::vector<std::pair<double, double>> longestFew; // (gap, where it begins), longest first
};

// The longest gaps between the recorded turns, and the whole time.
void summarise(Gaps& gaps);
// Every turn of the event loop, nested or not, recorded in `gaps` as seconds on `clock`.
QMetaObject::Connection recordTurns(Gaps& gaps, const QElapsedTimer& clock);

// Adds run()'s time to `runs`; returns the best of them.
template <typename Run>
double bestOf(std::vector<double>& runs, Run run) {
    runs.push_back(run());
    return *std::min_element(runs.begin(), runs.end());
}

QString runsText(const std::vector<double>& runs);
// One line of figures: what was measured, the figure, and a note (the target, the runs).
void line(const QString& what, const QString& figure, const QString& note = QString());
QString seconds(double value);
QString milliseconds(double value);
QString verdict(bool pass);
QString loadAverage();

} // namespace benchapp
