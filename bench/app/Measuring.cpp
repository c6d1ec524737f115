#include "Measuring.h"

#include <QAbstractEventDispatcher>
#include <QFile>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace benchapp {

double peakBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) * 1024.0;
}

double residentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        return 0;
    return fields[1].toDouble() * static_cast<double>(sysconf(_SC_PAGESIZE));
}

double megabytes(double bytes) {
    return bytes / (1024.0 * 1024.0);
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

namespace {

// A figure in kB of /proc/self/status, in bytes.
std::optional<double> statusBytes(const QByteArray& field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& entry : status.readAll().split('\n')) {
            if (entry.startsWith(field)) {
                bool ok = false;
                const double kilobytes =
                    entry.mid(field.size()).trimmed().split(' ').value(0).toDouble(&ok);
                if (ok)
                    return kilobytes * 1024.0;
            }
        }
    }
    return std::nullopt;
}

} // namespace

double highWaterBytes() {
    return statusBytes("VmHWM:").value_or(peakBytes());
}

double addressSpacePeakBytes() {
    return statusBytes("VmPeak:").value_or(0);
}

void summarise(Gaps& gaps) {
    gaps.total = gaps.turns.back();
    for (std::size_t i = 1; i < gaps.turns.size(); ++i) {
        const double gap = gaps.turns[i] - gaps.turns[i - 1];
        if (gap > gaps.longest) {
            gaps.longest = gap;
            gaps.longestAt = gaps.turns[i - 1];
        }
        gaps.longestFew.emplace_back(gap, gaps.turns[i - 1]);
    }
    std::sort(gaps.longestFew.begin(), gaps.longestFew.end(), std::greater<>());
    if (gaps.longestFew.size() > 5)
        gaps.longestFew.resize(5);
}

QMetaObject::Connection recordTurns(Gaps& gaps, const QElapsedTimer& clock) {
    gaps.turns.reserve(1 << 16);
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    return QObject::connect(
        dispatcher, &QAbstractEventDispatcher::awake, dispatcher,
        [&gaps, &clock] { gaps.turns.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e9); },
        Qt::DirectConnection);
}

QString runsText(const std::vector<double>& runs) {
    QStringList parts;
    for (double run : runs)
        parts << QString::number(run, 'f', 3);
    return parts.join(QLatin1Char(' '));
}

void line(const QString& what, const QString& figure, const QString& note) {
    std::printf("%-50s %12s  %s\n", qPrintable(what), qPrintable(figure), qPrintable(note));
}

QString seconds(double value) {
    return QString::number(value, 'f', 3) + QStringLiteral(" s");
}

QString milliseconds(double value) {
    return QString::number(value * 1000, 'f', 1) + QStringLiteral(" ms");
}

QString verdict(bool pass) {
    return pass ? QStringLiteral("PASS") : QStringLiteral("MISS");
}

QString loadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    const QList<QByteArray> fields = file.readAll().split(' ');
    return QString::fromLatin1(fields.mid(0, 3).join(' '));
}

} // namespace benchapp
