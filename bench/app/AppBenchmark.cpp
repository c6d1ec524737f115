// bench_app: the wizard's export of one large table, measured offscreen against the test server
// running in this process. bench/app/run makes the table and starts this; see README.md here.
//
//   bench_app --data FILE --cli PATH --work DIR --rows N [--reps N] [--capacity]
//
// FILE is a SQLite file holding the table [bench] of N rows; it is served as the database
// "bench" on a free port of 127.0.0.1. Without --capacity, each of --reps rounds times, in turn:
//   (c) `tallowby-cli export` of the table to a file, the whole command;
//   (s) that file's XML set at once into an empty QPlainTextEdit of the preview's size;
//   (w) the wizard, from the press of "Next >" on the table page to the options page shown
//       with the preview complete;
// then w / (c + s) from the best of each. After the last round it presses "Refresh" on the
// options page and records every turn of the event loop, and times the pieces of (w) one by
// one. With --capacity it runs (w) once and reports its time and the memory it took.
//
// Exit status: 0 done (a missed target is a result, not a failure), 1 something did not work
// (a message box, a wrong preview, a failed command), 2 a usage error.

#include "app/Form2.h"
#include "app/Form3.h"
#include "app/Host.h"
#include "app/PushCheckBox.h"
#include "app/Wizard.h"
#include "convert/ConvertTextToXml.h"
#include "convert/ExtractTableText.h"
#include "db/SettingsStore.h"
#include "db/TableCatalogue.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <malloc.h>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <tdsserver/server.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
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
};

// Peak resident memory of this process so far, in bytes.
double peakBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) * 1024.0;
}

// Resident memory now, in bytes.
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

// Answers every question with "No" and keeps every message: the wizard shows none on a run
// that works, so any message is a failure of the run.
class BenchHost final : public app::Host {
public:
    void showMessage(QWidget*, const QString& text) override { messages.push_back(text); }
    bool askYesNo(QWidget*, const QString& text) override {
        messages.push_back(text);
        return false;
    }
    std::optional<QString> chooseFile(QWidget*, const app::FileDialogRequest&) override {
        return std::nullopt;
    }
    double randomUnit() override { return 0.5; } // never the home page
    void openUrl(const QUrl&) override {}
    void endProgram() override { ++ends; }

    std::vector<QString> messages;
    int ends = 0;
};

// One wizard, started on the table page with the table "bench" selected.
class Session {
public:
    Session(const QString& storePath, const db::ConnectionSettings& login) : store_(storePath) {
        store_.save(login);
        wizard_ = std::make_unique<app::Wizard>(host_, store_);
        wizard_->start();
        app::Form2* tables = wizard_->existingForm2();
        if (!tables || !tables->isVisible())
            throw Failure("the wizard did not open on the table page" + messagesText());
        const QList<QListWidgetItem*> found =
            tables->List1->findItems(QStringLiteral("bench"), Qt::MatchExactly);
        if (found.isEmpty())
            throw Failure("the table page does not list the table bench" + messagesText());
        tables->List1->setCurrentItem(found.constFirst());
        QCoreApplication::processEvents();
    }
    ~Session() { wizard_.reset(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    app::Wizard& wizard() { return *wizard_; }
    app::Form2& tables() { return wizard_->form2(); }
    app::Form3& optionsPage() { return wizard_->form3(); }

    // Throws when the wizard showed a message or ended.
    void checkQuiet() const {
        if (!host_.messages.empty() || host_.ends > 0)
            throw Failure("the wizard " +
                          std::string(host_.ends > 0 ? "ended" : "showed a message") +
                          messagesText());
    }

private:
    std::string messagesText() const {
        std::string text;
        for (const QString& message : host_.messages)
            text += ": " + message.toStdString();
        return text;
    }

    db::SettingsStore store_;
    BenchHost host_;
    std::unique_ptr<app::Wizard> wizard_;
};

struct WizardTiming {
    double seconds = 0; // the press and the first turn of the event loop after it
    double press = 0;   // the press alone: its handler runs the whole export
    double cpu = 0;     // processor time of the whole process meanwhile, the server's too
    // When the table page's progress bar first reached 1, 25, 50, 75 and 99 percent: the
    // first is the end of the extraction, the rest show how the conversion's pace holds up.
    std::vector<std::pair<int, double>> marks;
    double lastInsertion = 0; // the preview's last change
    double pageShown = 0;     // the options page's Show event
};

// Notes when a widget receives its Show event.
class ShowWatch final : public QObject {
public:
    ShowWatch(QWidget& page, std::function<void()> onShow)
        : page_(page), onShow_(std::move(onShow)) {
        page_.installEventFilter(this);
    }
    ~ShowWatch() override { page_.removeEventFilter(this); }
    ShowWatch(const ShowWatch&) = delete;
    ShowWatch& operator=(const ShowWatch&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &page_ && event->type() == QEvent::Show)
            onShow_();
        return false;
    }

private:
    QWidget& page_;
    std::function<void()> onShow_;
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// (w): presses "Next >" on the table page; the export runs inside the press. One turn of the
// event loop after it paints the options page.
WizardTiming timeWizard(Session& session) {
    app::Form2& tables = session.tables();
    WizardTiming timing;
    const std::vector<int> wanted{1, 25, 50, 75, 99};
    Clock::time_point start;
    const QMetaObject::Connection progress = QObject::connect(
        tables.ProgressBar1, &QProgressBar::valueChanged, tables.ProgressBar1,
        [&](int value) {
            const std::size_t next = timing.marks.size();
            if (next < wanted.size() && value >= wanted[next])
                timing.marks.emplace_back(wanted[next], secondsSince(start));
        },
        Qt::DirectConnection);
    QPlainTextEdit* preview = session.optionsPage().RichTextBox1;
    const QMetaObject::Connection changes = QObject::connect(
        preview, &QPlainTextEdit::textChanged, preview,
        [&] { timing.lastInsertion = secondsSince(start); }, Qt::DirectConnection);
    const ShowWatch shown(session.optionsPage(), [&] { timing.pageShown = secondsSince(start); });
    const double cpuBefore = cpuSeconds();
    start = Clock::now();
    QTest::mouseClick(tables.Check3, Qt::LeftButton);
    timing.press = secondsSince(start);
    QCoreApplication::processEvents();
    timing.seconds = secondsSince(start);
    timing.cpu = cpuSeconds() - cpuBefore;
    QObject::disconnect(progress);
    QObject::disconnect(changes);
    session.checkQuiet();
    app::Form3& options = session.optionsPage();
    if (!options.isVisible() || tables.isVisible())
        throw Failure("after \"Next >\" the options page is not the one shown");
    if (options.RichTextBox1->document()->isEmpty())
        throw Failure("the preview is empty after the export");
    return timing;
}

// The XML as the preview holds it: the file's text with LF line breaks and none at the end.
QString previewForm(const QByteArray& fileBytes) {
    QString text = QString::fromUtf8(fileBytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    while (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text;
}

void checkPreview(Session& session, const QString& expected, const char* when) {
    if (session.optionsPage().previewText() != expected)
        throw Failure(std::string("the preview ") + when +
                      " differs from the XML that tallowby-cli export wrote");
}

// A QPlainTextEdit with the preview's size, font and wrapping, shown.
std::unique_ptr<QPlainTextEdit> editLikePreview(const QPlainTextEdit& preview) {
    auto edit = std::make_unique<QPlainTextEdit>();
    edit->setFont(preview.font());
    edit->setLineWrapMode(preview.lineWrapMode());
    edit->setWordWrapMode(preview.wordWrapMode());
    edit->resize(preview.size());
    edit->show();
    QCoreApplication::processEvents();
    return edit;
}

// (s): the whole XML into an empty edit at once, and the same turn of the event loop after it.
double timeSetAtOnce(const QPlainTextEdit& preview, const QString& xml) {
    std::unique_ptr<QPlainTextEdit> edit = editLikePreview(preview);
    const Clock::time_point start = Clock::now();
    edit->setPlainText(xml);
    QCoreApplication::processEvents();
    return secondsSince(start);
}

// (c): the whole command, from its start to its exit.
double timeCliExport(const Options& options, std::uint16_t port, const QString& output) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TALLOWBY_PASSWORD"), QStringLiteral("demo"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), options.work + QStringLiteral("/cli"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QStringList arguments{QStringLiteral("export"),
                                QStringLiteral("--table"),
                                QStringLiteral("bench"),
                                QStringLiteral("--server"),
                                QStringLiteral("127.0.0.1,%1").arg(port),
                                QStringLiteral("--user"),
                                QStringLiteral("demo"),
                                QStringLiteral("--database"),
                                QStringLiteral("bench"),
                                QStringLiteral("-o"),
                                output,
                                QStringLiteral("--force")};
    const Clock::time_point start = Clock::now();
    process.start(options.cli, arguments);
    if (!process.waitForStarted(10000))
        throw Failure("tallowby-cli did not start: " + process.errorString().toStdString());
    if (!process.waitForFinished(600000))
        throw Failure("tallowby-cli export did not end within 10 minutes");
    const double seconds = secondsSince(start);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw Failure("tallowby-cli export failed with status " +
                      std::to_string(process.exitCode()));
    return seconds;
}

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

Gaps timeRefresh(Session& session) {
    Gaps gaps;
    gaps.turns.reserve(1 << 16);
    QElapsedTimer clock;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    const QMetaObject::Connection watch = QObject::connect(
        dispatcher, &QAbstractEventDispatcher::awake, dispatcher,
        [&] { gaps.turns.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e9); },
        Qt::DirectConnection);
    QPlainTextEdit* preview = session.optionsPage().RichTextBox1;
    const QMetaObject::Connection changes = QObject::connect(
        preview, &QPlainTextEdit::textChanged, preview,
        [&] {
            if (gaps.cleared < 0)
                gaps.cleared = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        },
        Qt::DirectConnection);
    clock.start();
    gaps.turns.push_back(0);
    QTest::mouseClick(session.optionsPage().Check17, Qt::LeftButton);
    gaps.turns.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e9);
    QObject::disconnect(watch);
    QObject::disconnect(changes);
    session.checkQuiet();
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
    return gaps;
}

// The conversion's output thrown away, only counted.
class CountingSink final : public CSVXML::ConversionSink {
public:
    void append(std::string_view xml) override { bytes += xml.size(); }
    std::size_t bytes = 0;
};

// The preview's batching without the window system: the pieces gathered and inserted at the
// end of `edit` every 15 ms or every 64 KB, whichever comes first.
class BatchingSink final : public CSVXML::ConversionSink {
public:
    explicit BatchingSink(QPlainTextEdit& edit) : edit_(edit) { since_.start(); }
    void append(std::string_view xml) override {
        pending_.append(xml);
        if (since_.elapsed() >= 15 || pending_.size() >= 64 * 1024)
            flush();
    }
    void finish() override { flush(); }

private:
    void flush() {
        if (!pending_.empty()) {
            QTextCursor end(edit_.document());
            end.movePosition(QTextCursor::End);
            end.insertText(QString::fromUtf8(pending_.data(), qsizetype(pending_.size())));
            pending_.clear();
        }
        since_.start();
    }
    QPlainTextEdit& edit_;
    std::string pending_;
    QElapsedTimer since_;
};

struct Pieces {
    double extraction = 0;
    double delimitedBox = 0;
    double conversion = 0;
    double conversionAndInsertion = 0;
    double clearFull = 0;

    // Each piece's least time of this and `other`.
    void keepLeast(const Pieces& other) {
        extraction = std::min(extraction, other.extraction);
        delimitedBox = std::min(delimitedBox, other.delimitedBox);
        conversion = std::min(conversion, other.conversion);
        conversionAndInsertion = std::min(conversionAndInsertion, other.conversionAndInsertion);
        clearFull = std::min(clearFull, other.clearFull);
    }
};

// The pieces of (w) one by one, outside the wizard.
Pieces timePieces(const db::ConnectionSettings& login, app::Form3& page) {
    Pieces pieces;
    Clock::time_point start = Clock::now();
    const std::string text = CSVXML::ExtractTableText(
        login, db::TableEntry{QStringLiteral("dbo"), QStringLiteral("bench")});
    pieces.extraction = secondsSince(start);

    {
        QPlainTextEdit box;
        box.setFont(page.Text1->font());
        box.setLineWrapMode(page.Text1->lineWrapMode());
        box.resize(page.Text1->size());
        start = Clock::now();
        box.setPlainText(QString::fromUtf8(text.data(), qsizetype(text.size())));
        pieces.delimitedBox = secondsSince(start);
    }

    const CSVXML::ConversionOptions settings = page.options();
    CountingSink counter;
    start = Clock::now();
    CSVXML::ConvertTextToXml(text, settings, counter);
    pieces.conversion = secondsSince(start);

    auto edit = std::make_unique<QPlainTextEdit>();
    edit->setFont(page.RichTextBox1->font());
    edit->setLineWrapMode(page.RichTextBox1->lineWrapMode());
    edit->setWordWrapMode(page.RichTextBox1->wordWrapMode());
    edit->resize(page.RichTextBox1->size());
    edit->setReadOnly(true);
    edit->setUndoRedoEnabled(false);
    BatchingSink batches(*edit);
    start = Clock::now();
    CSVXML::ConvertTextToXml(text, settings, batches);
    pieces.conversionAndInsertion = secondsSince(start);

    edit->show();
    QCoreApplication::processEvents();
    start = Clock::now();
    edit->clear();
    pieces.clearFull = secondsSince(start);
    return pieces;
}

template <typename Run>
double bestOf(std::vector<double>& runs, Run run) {
    runs.push_back(run());
    return *std::min_element(runs.begin(), runs.end());
}

QString runsText(const std::vector<double>& runs) {
    QStringList parts;
    for (double run : runs)
        parts << QString::number(run, 'f', 3);
    return parts.join(QLatin1Char(' '));
}

void line(const QString& what, const QString& figure, const QString& note = QString()) {
    std::printf("%-50s %12s  %s\n", qPrintable(what), qPrintable(figure), qPrintable(note));
}

QString marksText(const WizardTiming& timing) {
    QStringList parts;
    for (const auto& [percent, at] : timing.marks)
        parts << QStringLiteral("%1%: %2 s").arg(percent).arg(at, 0, 'f', 2);
    parts << QStringLiteral("last insertion: %1 s").arg(timing.lastInsertion, 0, 'f', 2);
    parts << QStringLiteral("options page Show: %1 s").arg(timing.pageShown, 0, 'f', 2);
    parts << QStringLiteral("press returned: %1 s").arg(timing.press, 0, 'f', 2);
    return parts.join(QStringLiteral(", "));
}

QString seconds(double value) {
    return QString::number(value, 'f', 3) + QStringLiteral(" s");
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

int runCapacity(const Options& options, const db::ConnectionSettings& login) {
    Session session(options.work + QStringLiteral("/wizard.conf"), login);
    const double before = residentBytes();
    const WizardTiming timing = timeWizard(session);
    const double after = residentBytes();
    const double peak = peakBytes();
    const QTextDocument& preview = *session.optionsPage().RichTextBox1->document();
    const QTextDocument& delimited = *session.optionsPage().Text1->document();
    constexpr double kLimit = 2.5e9;

    std::printf("\n");
    line(QStringLiteral("(w) wizard, one run"), seconds(timing.seconds),
         QStringLiteral("the press alone %1").arg(seconds(timing.press)));
    line(QStringLiteral("preview document"), QStringLiteral("%1 lines").arg(preview.blockCount()),
         QStringLiteral("%1 characters").arg(preview.characterCount()));
    line(QStringLiteral("delimited text box (CSV File frame)"),
         QStringLiteral("%1 lines").arg(delimited.blockCount()),
         QStringLiteral("%1 characters").arg(delimited.characterCount()));
    line(QStringLiteral("resident memory before the press"),
         QStringLiteral("%1 MB").arg(megabytes(before), 0, 'f', 0));
    line(QStringLiteral("resident memory with the options page shown"),
         QStringLiteral("%1 MB").arg(megabytes(after), 0, 'f', 0),
         QStringLiteral("+%1 MB over the press").arg(megabytes(after - before), 0, 'f', 0));
    line(QStringLiteral("peak resident memory (ru_maxrss)"),
         QStringLiteral("%1 MB").arg(megabytes(peak), 0, 'f', 0));
    line(QStringLiteral("processor time meanwhile (with the server's)"), seconds(timing.cpu));
    line(QStringLiteral("progress bar reached"), QString(), marksText(timing));
    // What each box holds: the memory handed back when it is emptied.
    malloc_trim(0);
    const double settled = residentBytes();
    session.optionsPage().RichTextBox1->clear();
    malloc_trim(0);
    const double withoutPreview = residentBytes();
    session.optionsPage().Text1->clear();
    malloc_trim(0);
    const double withoutBoxes = residentBytes();
    line(QStringLiteral("given back when the preview is cleared"),
         QStringLiteral("%1 MB").arg(megabytes(settled - withoutPreview), 0, 'f', 0));
    line(QStringLiteral("given back when the CSV text box is cleared"),
         QStringLiteral("%1 MB").arg(megabytes(withoutPreview - withoutBoxes), 0, 'f', 0));
    line(QStringLiteral("resident memory left"),
         QStringLiteral("%1 MB").arg(megabytes(withoutBoxes), 0, 'f', 0));
    std::printf("\n%s whole process under 2.5 GB at its peak: %.0f MB < %.0f MB\n",
                qPrintable(verdict(peak < kLimit)), megabytes(peak), megabytes(kLimit));
    return 0;
}

int runComparison(const Options& options, const db::ConnectionSettings& login, std::uint16_t port) {
    const QString output = options.work + QStringLiteral("/export.xml");
    std::vector<double> wRuns, pressRuns, cRuns, sRuns;
    double w = 0, c = 0, s = 0;
    QString expected;
    std::unique_ptr<Session> session;
    Pieces pieces;
    WizardTiming lastTiming;
    for (int rep = 1; rep <= options.reps; ++rep) {
        c = bestOf(cRuns, [&] { return timeCliExport(options, port, output); });
        QFile file(output);
        if (!file.open(QIODevice::ReadOnly))
            throw Failure("cannot read " + output.toStdString());
        const QByteArray bytes = file.readAll();
        if (bytes.count("<row>") != options.rows)
            throw Failure("tallowby-cli export wrote " + std::to_string(bytes.count("<row>")) +
                          " rows, not " + std::to_string(options.rows));
        expected = previewForm(bytes);
        // One wizard per round, so that every round starts from an empty preview.
        session.reset();
        session = std::make_unique<Session>(
            options.work + QStringLiteral("/wizard-%1.conf").arg(rep), login);
        s = bestOf(sRuns, [&] {
            return timeSetAtOnce(*session->optionsPage().RichTextBox1, QString::fromUtf8(bytes));
        });
        w = bestOf(wRuns, [&] {
            lastTiming = timeWizard(*session);
            return lastTiming.seconds;
        });
        pressRuns.push_back(lastTiming.press);
        checkPreview(*session, expected, "after \"Next >\"");
        const Pieces round = timePieces(login, session->optionsPage());
        if (rep == 1)
            pieces = round;
        else
            pieces.keepLeast(round);
        std::fprintf(stderr, "round %d of %d: w %.3f s, c %.3f s, s %.3f s\n", rep, options.reps,
                     wRuns.back(), cRuns.back(), sRuns.back());
    }
    const Gaps gaps = timeRefresh(*session);
    checkPreview(*session, expected, "after \"Refresh\"");
    const double ratio = w / (c + s);

    std::printf("\n");
    line(QStringLiteral("figure"), QStringLiteral("best"), QStringLiteral("runs (s)"));
    line(QStringLiteral("(w) wizard: \"Next >\" to options page shown"), seconds(w),
         runsText(wRuns));
    line(QStringLiteral("    of which the press (export + conversion)"),
         seconds(*std::min_element(pressRuns.begin(), pressRuns.end())), runsText(pressRuns));
    line(QStringLiteral("    progress bar reached (last run)"), QString(), marksText(lastTiming));
    line(QStringLiteral("(c) tallowby-cli export, whole command"), seconds(c), runsText(cRuns));
    line(QStringLiteral("(s) setPlainText of that XML + one turn"), seconds(s), runsText(sRuns));
    line(QStringLiteral("w / (c + s)"), QString::number(ratio, 'f', 2),
         QStringLiteral("target <= 1.30  %1").arg(verdict(ratio <= 1.3)));
    line(QStringLiteral("Refresh: longest gap between loop turns"),
         QStringLiteral("%1 ms").arg(gaps.longest * 1000, 0, 'f', 1),
         QStringLiteral("target <= 150 ms  %1").arg(verdict(gaps.longest <= 0.150)));
    line(QStringLiteral("    turns, whole Refresh"),
         QStringLiteral("%1").arg(gaps.turns.size() - 2),
         QStringLiteral("%1; the longest gap begins at %2 s")
             .arg(seconds(gaps.total))
             .arg(gaps.longestAt, 0, 'f', 3));
    QStringList few;
    for (const auto& [gap, at] : gaps.longestFew)
        few << QStringLiteral("%1 ms at %2 s").arg(gap * 1000, 0, 'f', 1).arg(at, 0, 'f', 3);
    line(QStringLiteral("    the longest gaps"), QString(), few.join(QStringLiteral(", ")));
    line(QStringLiteral("    preview cleared (first change) after"),
         QStringLiteral("%1 ms").arg(gaps.cleared * 1000, 0, 'f', 1));

    const double inserting = pieces.conversionAndInsertion - pieces.conversion;
    const double accounted =
        pieces.extraction + pieces.delimitedBox + pieces.conversionAndInsertion;
    std::printf("\nThe pieces of (w) outside the wizard, best of %d:\n", options.reps);
    line(QStringLiteral("  extraction (ExtractTableText, no yields)"), seconds(pieces.extraction));
    line(QStringLiteral("  CSV into the frame's text box (setPlainText)"),
         seconds(pieces.delimitedBox));
    line(QStringLiteral("  conversion (ConvertTextToXml, output counted)"),
         seconds(pieces.conversion));
    line(QStringLiteral("  preview insertion (15 ms / 64 KB batches)"), seconds(inserting));
    line(QStringLiteral("  rest of (w): event processing, progress, paint"),
         seconds(w - accounted));
    line(QStringLiteral("  clear() of a full preview (starts a Refresh)"),
         seconds(pieces.clearFull));
    std::printf("\nPeak resident memory of this run: %.0f MB\n", megabytes(peakBytes()));
    return 0;
}

std::optional<Options> parse(const QStringList& arguments) {
    Options options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= arguments.size())
                return std::nullopt;
            return arguments[++i];
        };
        std::optional<QString> given;
        bool ok = true;
        if (argument == QLatin1String("--capacity")) {
            options.capacity = true;
            continue;
        }
        if (!(given = value()))
            return std::nullopt;
        if (argument == QLatin1String("--data"))
            options.data = *given;
        else if (argument == QLatin1String("--cli"))
            options.cli = *given;
        else if (argument == QLatin1String("--work"))
            options.work = *given;
        else if (argument == QLatin1String("--rows"))
            options.rows = given->toLongLong(&ok);
        else if (argument == QLatin1String("--reps"))
            options.reps = given->toInt(&ok);
        else
            return std::nullopt;
        if (!ok)
            return std::nullopt;
    }
    if (options.data.isEmpty() || options.work.isEmpty() || options.rows < 1 || options.reps < 1 ||
        (!options.capacity && options.cli.isEmpty()))
        return std::nullopt;
    return options;
}

} // namespace

int main(int argc, char* argv[]) {
    // Offscreen unless told otherwise, the driver through the build's own registration.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("ODBCSYSINI", TALLOWBY_ODBCSYSINI, 0);
    setenv("TDSVER", "7.4", 0);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    const std::optional<Options> options = parse(QCoreApplication::arguments());
    if (!options) {
        std::fputs("usage: bench_app --data FILE --cli PATH --work DIR --rows N [--reps N] "
                   "[--capacity]\n",
                   stderr);
        return 2;
    }
    try {
        tdsserver::Server server;
        server.addDatabase("bench", options->data.toStdString());
        const std::uint16_t port = server.start();
        const db::ConnectionSettings login{QStringLiteral("127.0.0.1,%1").arg(port),
                                           QStringLiteral("demo"), QStringLiteral("demo"),
                                           QStringLiteral("bench")};
        std::printf("Tallowby wizard benchmark: %lld rows x 8 columns, %s, offscreen, server in "
                    "this process on 127.0.0.1:%u\n",
                    options->rows,
                    options->capacity ? "one run of (w)"
                                      : qPrintable(QStringLiteral("best of %1").arg(options->reps)),
                    unsigned{port});
        std::printf("(%ld cores, load average %s at the start)\n", sysconf(_SC_NPROCESSORS_ONLN),
                    qPrintable(loadAverage()));
        std::fflush(stdout);
        const int status =
            options->capacity ? runCapacity(*options, login) : runComparison(*options, login, port);
        std::printf("(load average %s at the end)\n", qPrintable(loadAverage()));
        server.stop();
        return status;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "bench_app: %s\n", failure.what());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_app: %s\n", error.what());
    }
    return 1;
}
