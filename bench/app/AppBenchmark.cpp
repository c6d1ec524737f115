// bench_app: the wizard's export of one large table, measured offscreen against the test server
// running in this process. bench/app/run makes the table and starts this; see README.md here.
//
//   bench_app --data FILE --cli PATH --work DIR --rows N [--reps N] [--capacity | --large]
//
// FILE is a SQLite file holding the table [bench] of N rows; it is served as the database
// "bench" on a free port of 127.0.0.1. Without --capacity, each of --reps rounds times, in turn:
//   (c) `tallowby-cli export` of the table to a file, the whole command;
//   (w) the wizard, from the press of "Next >" on the table page to the options page shown
//       with the preview complete;
// then w / c from the best of each; the preview with CR LF added must be (c)'s file exactly.
// After the last round it presses "Refresh" on the options page and records every turn of the
// event loop; then times "Finish" on the output page against `tallowby-cli convert` of the
// page's delimited text, Ctrl+End in the preview, and a letter typed at its end and its start.
// With --capacity it runs (w) once, then the same Finish and editing figures, and reports the
// time and the memory it took: the process does nothing else first, so its peak is the run's.
// With --large it fills the preview past 2 GiB from a delimited text of its own and checks the
// end after Ctrl+End, a letter typed there and the file "Finish" writes against the command line.
//
// Exit status: 0 done (a missed target is a result, not a failure), 1 something did not work
// (a message box, a wrong preview or file, a failed command), 2 a usage error.

#include "app/Form2.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/HeapSetting.h"
#include "app/Host.h"
#include "app/PushCheckBox.h"
#include "app/TextEditor.h"
#include "app/Wizard.h"
#include "convert/ConvertTextToXml.h"
#include "convert/ExtractTableText.h"
#include "db/SettingsStore.h"
#include "db/TableCatalogue.h"

#include <QAbstractEventDispatcher>
#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
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
    bool large = false;
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
    bool offer(QWidget*, const QString& text, const QString&) override {
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
        app::Form2* tables = &wizard_->form2();
        if (!tables->isVisible())
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
    app::TextEditor* preview = session.optionsPage().RichTextBox1;
    const QMetaObject::Connection changes = QObject::connect(
        preview, &app::TextEditor::contentChanged, preview,
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
    if (options.RichTextBox1->isEmptyText())
        throw Failure("the preview is empty after the export");
    return timing;
}

// Whether the file holds exactly `text` followed by `tail`, read in slices so that a file of
// hundreds of megabytes adds nothing to the peak.
bool fileHolds(const QString& path, std::string_view text, std::string_view tail) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) ||
        file.size() != static_cast<qint64>(text.size() + tail.size()))
        return false;
    std::vector<char> slice(1 << 20);
    std::size_t at = 0;
    const std::size_t total = text.size() + tail.size();
    while (at < total) {
        const qint64 got = file.read(slice.data(), static_cast<qint64>(slice.size()));
        if (got <= 0)
            return false;
        for (qint64 i = 0; i < got; ++i, ++at) {
            const char expected = at < text.size() ? text[at] : tail[at - text.size()];
            if (slice[static_cast<std::size_t>(i)] != expected)
                return false;
        }
    }
    return true;
}

void checkPreview(Session& session, const QString& file, const char* when) {
    if (!fileHolds(file, session.optionsPage().previewText(), "\r\n"))
        throw Failure(std::string("the preview ") + when +
                      " with CR LF added differs from the XML that tallowby-cli export wrote");
}

std::size_t rowsIn(std::string_view xml) {
    std::size_t count = 0;
    for (std::size_t at = xml.find("<row>"); at != std::string_view::npos;
         at = xml.find("<row>", at + 5))
        ++count;
    return count;
}

// One whole command, from its start to its exit.
double timeCli(const Options& options, const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TALLOWBY_PASSWORD"), QStringLiteral("demo"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), options.work + QStringLiteral("/cli"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const Clock::time_point start = Clock::now();
    process.start(options.cli, arguments);
    if (!process.waitForStarted(10000))
        throw Failure("tallowby-cli did not start: " + process.errorString().toStdString());
    if (!process.waitForFinished(600000))
        throw Failure("tallowby-cli " + arguments.constFirst().toStdString() +
                      " did not end within 10 minutes");
    const double seconds = secondsSince(start);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw Failure("tallowby-cli " + arguments.constFirst().toStdString() +
                      " failed with status " + std::to_string(process.exitCode()));
    return seconds;
}

// (c): `tallowby-cli export` of the table to `output`.
double timeCliExport(const Options& options, std::uint16_t port, const QString& output) {
    return timeCli(options,
                   {QStringLiteral("export"), QStringLiteral("--table"), QStringLiteral("bench"),
                    QStringLiteral("--server"), QStringLiteral("127.0.0.1,%1").arg(port),
                    QStringLiteral("--user"), QStringLiteral("demo"), QStringLiteral("--database"),
                    QStringLiteral("bench"), QStringLiteral("-o"), output,
                    QStringLiteral("--force")});
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

// The longest gaps between the recorded turns, and the whole time.
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

// Every turn of the event loop, nested or not, recorded in `gaps` as seconds on `clock`.
QMetaObject::Connection recordTurns(Gaps& gaps, const QElapsedTimer& clock) {
    gaps.turns.reserve(1 << 16);
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    return QObject::connect(
        dispatcher, &QAbstractEventDispatcher::awake, dispatcher,
        [&gaps, &clock] { gaps.turns.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e9); },
        Qt::DirectConnection);
}

Gaps timeRefresh(Session& session) {
    Gaps gaps;
    QElapsedTimer clock;
    const QMetaObject::Connection watch = recordTurns(gaps, clock);
    app::TextEditor* preview = session.optionsPage().RichTextBox1;
    const QMetaObject::Connection changes = QObject::connect(
        preview, &app::TextEditor::contentChanged, preview,
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
    summarise(gaps);
    return gaps;
}

// The turns of the event loop during "Next >" on a fresh wizard, with the server waiting
// `packetDelay` after each packet of the table. A timer asks for a turn every few milliseconds,
// so that a loop that only waits for the database thread turns all the same.
Gaps timeNextOnASlowNetwork(const Options& options, const db::ConnectionSettings& login,
                            tdsserver::Server& server, std::chrono::milliseconds packetDelay) {
    Session session(options.work + QStringLiteral("/wizard-slow.conf"), login);
    Gaps gaps;
    QElapsedTimer clock;
    const QMetaObject::Connection watch = recordTurns(gaps, clock);
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.start(5);
    server.packetDelay(packetDelay);
    clock.start();
    gaps.turns.push_back(0);
    QTest::mouseClick(session.tables().Check3, Qt::LeftButton);
    gaps.turns.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e9);
    server.packetDelay(std::chrono::milliseconds(0));
    ticks.stop();
    QObject::disconnect(watch);
    session.checkQuiet();
    if (!session.optionsPage().isVisible())
        throw Failure("after \"Next >\" on the slow network the options page is not shown");
    summarise(gaps);
    return gaps;
}

// The conversion's output thrown away, only counted.
class CountingSink final : public CSVXML::ConversionSink {
public:
    void append(std::string_view xml) override { bytes += xml.size(); }
    std::size_t bytes = 0;
};

struct Pieces {
    double extraction = 0;
    double conversion = 0;
};

// The core's share of (w), outside the wizard: what is left is the widgets' and the loop's.
Pieces timePieces(const db::ConnectionSettings& login, const app::Form3& page) {
    Pieces pieces;
    Clock::time_point start = Clock::now();
    const std::string text = CSVXML::ExtractTableText(
        login, db::TableEntry{QStringLiteral("dbo"), QStringLiteral("bench")});
    pieces.extraction = secondsSince(start);
    CountingSink counter;
    start = Clock::now();
    CSVXML::ConvertTextToXml(text, page.options(), counter);
    pieces.conversion = secondsSince(start);
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

// The editor's own repaint and the loop's turn: what it takes for the change to be on screen.
void showNow(app::TextEditor& editor) {
    editor.viewport()->repaint();
    QCoreApplication::processEvents();
}

struct Keystroke {
    double shown = 1e9; // the key, the repaint and the turn: what the user waits for
    double key = 1e9;   // the key's handling alone
};

// One letter typed where the caret is, shown; the best of `times` keystrokes.
Keystroke timeKeystroke(app::TextEditor& editor, int times) {
    Keystroke best;
    for (int i = 0; i < times; ++i) {
        const std::size_t before = editor.size();
        const Clock::time_point start = Clock::now();
        QTest::keyClick(&editor, Qt::Key_X);
        best.key = std::min(best.key, secondsSince(start));
        showNow(editor);
        best.shown = std::min(best.shown, secondsSince(start));
        if (editor.size() != before + 1)
            throw Failure("a letter typed into the preview did not arrive");
    }
    return best;
}

struct Editing {
    Keystroke atEnd;
    Keystroke atStart;
    double ctrlEnd = 0;
    long styledTo = 0;       // SCI_GETENDSTYLED after Ctrl+End: how far the document was styled
    std::string lastLines;   // the last two lines after Ctrl+End, line breaks shown as " | "
    bool accessible = false; // an assistive tool's bridge is active (bench/app/run --accessible)
    double firstRead = 0;    // its first reading of the preview: the line index made for it
};

// In the full preview: Ctrl+End from the start, then letters typed at the end and at the
// start. Changes the preview, so it comes after every check of its bytes.
Editing timeEditing(app::TextEditor& editor) {
    Editing editing;
    // A screen reader reads the caret's line as soon as the preview has the focus: the focus
    // and that first reading, which makes the preview's line index.
    editing.accessible = QAccessible::isActive();
    if (editing.accessible) {
        const Clock::time_point start = Clock::now();
        editor.setFocus();
        QCoreApplication::processEvents();
        QAccessibleTextInterface* text =
            QAccessible::queryAccessibleInterface(&editor)->textInterface();
        int from = 0, to = 0;
        if (!text ||
            text->textAtOffset(text->cursorPosition(), QAccessible::LineBoundary, &from, &to)
                .isEmpty())
            throw Failure("the preview gave no text to assistive tools");
        editing.firstRead = secondsSince(start);
    }
    editor.setFocus();
    editor.SendScintilla(QsciScintillaBase::SCI_DOCUMENTSTART);
    showNow(editor);
    Clock::time_point start = Clock::now();
    QTest::keyClick(&editor, Qt::Key_End, Qt::ControlModifier);
    showNow(editor);
    editing.ctrlEnd = secondsSince(start);
    editing.styledTo = editor.SendScintilla(QsciScintillaBase::SCI_GETENDSTYLED);
    const auto caret = editor.SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS);
    if (caret < 0 || static_cast<std::size_t>(caret) != editor.size())
        throw Failure("Ctrl+End did not move the caret to the end of the preview");
    using Sci = QsciScintillaBase;
    const long lines = editor.SendScintilla(Sci::SCI_GETLINECOUNT);
    const long from = editor.SendScintilla(Sci::SCI_POSITIONFROMLINE,
                                           static_cast<unsigned long>(std::max(lines - 2, 0l)));
    if (from < 0 || from > caret ||
        editor.SendScintilla(Sci::SCI_GETFIRSTVISIBLELINE) +
                editor.SendScintilla(Sci::SCI_LINESONSCREEN) <
            lines - 1)
        throw Failure("after Ctrl+End the last lines of the preview are not on the screen");
    const std::string_view end = editor.bytes().substr(static_cast<std::size_t>(from));
    if (end != std::string_view(
                   reinterpret_cast<const char*>(editor.SendScintilla(
                       Sci::SCI_GETRANGEPOINTER, static_cast<unsigned long>(from), caret - from)),
                   static_cast<std::size_t>(caret - from)))
        throw Failure("after Ctrl+End the editor's last lines differ from its text");
    editing.lastLines = std::string(end);
    for (std::size_t at; (at = editing.lastLines.find("\r\n")) != std::string::npos;)
        editing.lastLines.replace(at, 2, " | ");

    editor.SendScintilla(QsciScintillaBase::SCI_DOCUMENTEND);
    showNow(editor);
    editing.atEnd = timeKeystroke(editor, 5);
    editor.SendScintilla(QsciScintillaBase::SCI_DOCUMENTSTART);
    showNow(editor);
    editing.atStart = timeKeystroke(editor, 5);
    return editing;
}

// Whole-process peak resident memory from the kernel (VmHWM), in bytes; ru_maxrss otherwise.
double highWaterBytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& entry : status.readAll().split('\n')) {
            if (entry.startsWith("VmHWM:")) {
                bool ok = false;
                const double kilobytes = entry.mid(6).trimmed().split(' ').value(0).toDouble(&ok);
                if (ok)
                    return kilobytes * 1024.0;
            }
        }
    }
    return peakBytes();
}

struct Finishing {
    double finish = 0;  // "Finish" on the output page, pressed, and one turn after it
    double convert = 0; // `tallowby-cli convert -o FILE` of the page's delimited text, best
    std::vector<double> convertRuns;
    // The peak as it grows through the steps, to place what raises it.
    std::vector<std::pair<const char*, double>> peaks;
};

// "Finish" writes the preview to a new file, against `tallowby-cli convert` writing the same
// bytes from the same delimited text: the command line's whole path to such a file (read,
// convert, write) against the wizard's write alone. Both files must hold the preview's bytes
// and CR LF. Returns on the options page.
Finishing timeFinish(const Options& options, Session& session, int convertRuns) {
    Finishing finishing;
    app::Form3& page = session.optionsPage();
    const QString delimited = options.work + QStringLiteral("/delimited.txt");
    {
        QFile file(delimited);
        const std::string_view text = page.delimitedText();
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(text.data(), static_cast<qint64>(text.size())) !=
                static_cast<qint64>(text.size()))
            throw Failure("cannot write " + delimited.toStdString());
    }
    finishing.peaks.emplace_back("delimited text written", highWaterBytes());
    const QString converted = options.work + QStringLiteral("/converted.xml");
    for (int run = 0; run < convertRuns; ++run) {
        QFile::remove(converted);
        bestOf(finishing.convertRuns, [&] {
            return timeCli(options,
                           {QStringLiteral("convert"), QStringLiteral("-o"), converted, delimited});
        });
    }
    finishing.convert =
        *std::min_element(finishing.convertRuns.begin(), finishing.convertRuns.end());
    QFile::remove(delimited);
    if (!fileHolds(converted, page.previewText(), "\r\n"))
        throw Failure("tallowby-cli convert of the page's delimited text differs from the preview");
    QFile::remove(converted);
    finishing.peaks.emplace_back("convert run and its file compared", highWaterBytes());

    QTest::mouseClick(page.Check7, Qt::LeftButton);
    QCoreApplication::processEvents();
    app::Form4& output = session.wizard().form4();
    if (!output.isVisible())
        throw Failure("\"Next >\" on the options page did not show the output page");
    const QString written = options.work + QStringLiteral("/finish.xml");
    QFile::remove(written);
    output.Text1->setText(written);
    finishing.peaks.emplace_back("output page shown", highWaterBytes());
    const Clock::time_point start = Clock::now();
    QTest::mouseClick(output.Check6, Qt::LeftButton);
    QCoreApplication::processEvents();
    finishing.finish = secondsSince(start);
    finishing.peaks.emplace_back("Finish", highWaterBytes());
    session.checkQuiet();
    if (output.Check6->text() != QStringLiteral("Exit"))
        throw Failure("\"Finish\" did not end as \"Exit\"");
    if (!fileHolds(written, page.previewText(), "\r\n"))
        throw Failure("the file \"Finish\" wrote differs from the preview with CR LF added");
    QFile::remove(written);

    QTest::mouseClick(output.Check8, Qt::LeftButton);
    QCoreApplication::processEvents();
    if (!page.isVisible())
        throw Failure("\"< Back\" on the output page did not show the options page");
    return finishing;
}

void printFinishAndEditing(const Finishing& finishing, const Editing& editing) {
    const double ratio = finishing.finish / finishing.convert;
    line(QStringLiteral("\"Finish\" on the output page + one turn"), seconds(finishing.finish));
    line(QStringLiteral("tallowby-cli convert -o FILE, same text"), seconds(finishing.convert),
         runsText(finishing.convertRuns));
    QStringList peaks;
    for (const auto& [step, bytes] : finishing.peaks)
        peaks << QStringLiteral("%1: %2 MB")
                     .arg(QLatin1String(step))
                     .arg(megabytes(bytes), 0, 'f', 0);
    line(QStringLiteral("    peak (VmHWM) after each step"), QString(),
         peaks.join(QStringLiteral(", ")));
    line(QStringLiteral("Finish / convert"), QString::number(ratio, 'f', 2),
         QStringLiteral("target <= 2.00  %1").arg(verdict(ratio <= 2.0)));
    line(QStringLiteral("Ctrl+End from the start, shown"), milliseconds(editing.ctrlEnd),
         QStringLiteral("target <= 1000 ms  %1").arg(verdict(editing.ctrlEnd <= 1.0)));
    line(QStringLiteral("    the last lines shown"), QString::fromStdString(editing.lastLines));
    line(QStringLiteral("    styled to (SCI_GETENDSTYLED) after it"),
         QStringLiteral("%1 MB").arg(megabytes(double(editing.styledTo)), 0, 'f', 1));
    line(QStringLiteral("accessibility (assistive tools' bridge)"),
         editing.accessible ? QStringLiteral("active") : QStringLiteral("not active"),
         editing.accessible ? QStringLiteral("focus and first reading of the caret's line %1")
                                  .arg(milliseconds(editing.firstRead))
                            : QString());
    line(QStringLiteral("a letter typed at the end, shown (best of 5)"),
         milliseconds(editing.atEnd.shown),
         QStringLiteral("target <= 50 ms  %1; the key alone %2")
             .arg(verdict(editing.atEnd.shown <= 0.050), milliseconds(editing.atEnd.key)));
    // Not scaling with the position: the end within twice the start, give or take the 5 ms
    // that a repaint varies by on this machine.
    const bool flat = editing.atEnd.shown <= 2 * editing.atStart.shown + 0.005;
    line(QStringLiteral("a letter typed at the start, shown (best of 5)"),
         milliseconds(editing.atStart.shown),
         QStringLiteral("end <= 2 x start + 5 ms  %1; the key alone %2")
             .arg(verdict(flat), milliseconds(editing.atStart.key)));
}

int runCapacity(const Options& options, const db::ConnectionSettings& login) {
    Session session(options.work + QStringLiteral("/wizard.conf"), login);
    const double before = residentBytes();
    const WizardTiming timing = timeWizard(session);
    const double after = residentBytes();
    const double peakWizard = highWaterBytes();
    const app::TextEditor& preview = *session.optionsPage().RichTextBox1;
    const app::TextEditor& delimited = *session.optionsPage().Text1;
    if (rowsIn(preview.bytes()) != static_cast<std::size_t>(options.rows))
        throw Failure("the preview holds " + std::to_string(rowsIn(preview.bytes())) +
                      " rows, not " + std::to_string(options.rows));
    constexpr double kSecondsLimit = 15;
    // 1.1 GB in the megabytes printed here (2^20 bytes), the unit of the figures it is
    // compared with: 1,100 MB.
    constexpr double kPeakLimit = 1100.0 * 1024 * 1024;

    std::printf("\n");
    line(QStringLiteral("(w) wizard: \"Next >\" to options page shown"), seconds(timing.seconds),
         QStringLiteral("target <= 15 s  %1; the press alone %2")
             .arg(verdict(timing.seconds <= kSecondsLimit), seconds(timing.press)));
    line(QStringLiteral("preview"),
         QStringLiteral("%1 MB").arg(megabytes(double(preview.size())), 0, 'f', 1),
         QStringLiteral("%1 lines, %2")
             .arg(preview.lines())
             .arg(preview.lexer() != nullptr ? QStringLiteral("highlighted")
                                             : QStringLiteral("plain")));
    line(QStringLiteral("delimited text box (CSV File frame)"),
         QStringLiteral("%1 MB").arg(megabytes(double(delimited.size())), 0, 'f', 1),
         QStringLiteral("%1 lines").arg(delimited.lines()));
    line(QStringLiteral("resident memory before the press"),
         QStringLiteral("%1 MB").arg(megabytes(before), 0, 'f', 0));
    line(QStringLiteral("resident memory with the options page shown"),
         QStringLiteral("%1 MB").arg(megabytes(after), 0, 'f', 0),
         QStringLiteral("+%1 MB over the press").arg(megabytes(after - before), 0, 'f', 0));
    line(QStringLiteral("peak resident memory after (w) (VmHWM)"),
         QStringLiteral("%1 MB").arg(megabytes(peakWizard), 0, 'f', 0));
    line(QStringLiteral("processor time meanwhile (with the server's)"), seconds(timing.cpu));
    line(QStringLiteral("progress bar reached"), QString(), marksText(timing));

    const Finishing finishing = timeFinish(options, session, 1);
    const double peakFinish = highWaterBytes();
    const Editing editing = timeEditing(*session.optionsPage().RichTextBox1);
    printFinishAndEditing(finishing, editing);
    line(QStringLiteral("peak resident memory after Finish (VmHWM)"),
         QStringLiteral("%1 MB").arg(megabytes(peakFinish), 0, 'f', 0),
         QStringLiteral("after Ctrl+End and typing: the line below"));
    const double peak = highWaterBytes();
    line(QStringLiteral("whole-process peak resident memory (VmHWM)"),
         QStringLiteral("%1 MB").arg(megabytes(peak), 0, 'f', 0),
         QStringLiteral("target <= %1 MB  %2")
             .arg(megabytes(kPeakLimit), 0, 'f', 0)
             .arg(verdict(peak <= kPeakLimit)));

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
    return 0;
}

// The last `count` bytes of a file.
std::string fileTail(const QString& path, qint64 count) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < count || !file.seek(file.size() - count))
        return {};
    return file.read(count).toStdString();
}

// Whether `wizard` is `cli` with `typed` put in before its closing CR LF, read in slices.
bool sameButTyped(const QString& wizard, const QString& cli, std::string_view typed) {
    QFile a(wizard);
    QFile b(cli);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) ||
        a.size() != b.size() + static_cast<qint64>(typed.size()) || b.size() < 2)
        return false;
    qint64 left = b.size() - 2;
    constexpr qint64 kSlice = 1 << 20;
    while (left > 0) {
        const qint64 n = std::min(left, kSlice);
        if (a.read(n) != b.read(n))
            return false;
        left -= n;
    }
    return a.readAll().toStdString() == std::string(typed) + "\r\n" && b.readAll() == "\r\n";
}

// A preview past 2 GiB, from a delimited text made here: eight columns of long names and
// one-letter values, so that 60 MB of text give 2.25 GB of XML. "Refresh" fills the preview with
// it; then Ctrl+End must show the XML's own last lines, a letter typed there must land at the
// end, and "Finish" must write what `tallowby-cli convert` writes of the same text with that
// letter put in.
int runLarge(const Options& options, const db::ConnectionSettings& login) {
    constexpr int kRows = 3'700'000;
    std::string text;
    for (int column = 1; column <= 8; ++column)
        text += (column > 1 ? "," : "") + std::string("a_column_name_thirty_letters_lo") +
                std::to_string(column);
    text.reserve(text.size() + std::size_t{kRows} * 17);
    for (int row = 0; row < kRows; ++row)
        text += "\r\na,b,c,d,e,f,g,h";
    const QString csv = options.work + QStringLiteral("/large.csv");
    {
        QFile file(csv);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(text.data(), static_cast<qint64>(text.size())) !=
                static_cast<qint64>(text.size()))
            throw Failure("the delimited text could not be written to " + csv.toStdString());
    }
    const QString cliFile = options.work + QStringLiteral("/large-cli.xml");
    const double cli =
        timeCli(options, {QStringLiteral("convert"), QStringLiteral("-o"), cliFile, csv});

    Session session(options.work + QStringLiteral("/wizard.conf"), login);
    timeWizard(session); // the small table, to reach the options page
    app::Form3& page = session.optionsPage();
    page.setDelimitedText(text);
    std::string().swap(text);
    Clock::time_point start = Clock::now();
    QTest::mouseClick(page.Check17, Qt::LeftButton);
    QCoreApplication::processEvents();
    const double refresh = secondsSince(start);
    session.checkQuiet();
    app::TextEditor& preview = *page.RichTextBox1;
    if (!fileHolds(cliFile, preview.bytes(), "\r\n"))
        throw Failure(
            "the preview past 2 GiB with CR LF added differs from tallowby-cli convert's file");

    preview.setFocus();
    preview.SendScintilla(QsciScintillaBase::SCI_DOCUMENTSTART);
    showNow(preview);
    start = Clock::now();
    QTest::keyClick(&preview, Qt::Key_End, Qt::ControlModifier);
    showNow(preview);
    const double ctrlEnd = secondsSince(start);
    using Sci = QsciScintillaBase;
    const long lines = preview.SendScintilla(Sci::SCI_GETLINECOUNT);
    const long firstShown = preview.SendScintilla(Sci::SCI_GETFIRSTVISIBLELINE);
    const long onScreen = preview.SendScintilla(Sci::SCI_LINESONSCREEN);
    // The last three lines as the editor lays them out: from the start of their first.
    const long from =
        preview.SendScintilla(Sci::SCI_POSITIONFROMLINE, static_cast<unsigned long>(lines - 3));
    const long length = preview.SendScintilla(Sci::SCI_GETLENGTH);
    const std::string shown(
        reinterpret_cast<const char*>(preview.SendScintilla(
            Sci::SCI_GETRANGEPOINTER, static_cast<unsigned long>(from), length - from)),
        static_cast<std::size_t>(length - from));
    const std::string expectedEnd = fileTail(cliFile, static_cast<qint64>(shown.size()) + 2);
    if (firstShown + onScreen < lines - 1 || shown + "\r\n" != expectedEnd)
        throw Failure("after Ctrl+End the last lines shown are not the XML's own");
    QTest::keyClick(&preview, Qt::Key_Q);
    showNow(preview);
    if (!preview.bytes().ends_with("</XML>q"))
        throw Failure("the letter typed after Ctrl+End did not land at the end");

    QTest::mouseClick(page.Check7, Qt::LeftButton);
    QCoreApplication::processEvents();
    app::Form4& output = session.wizard().form4();
    const QString written = options.work + QStringLiteral("/large-wizard.xml");
    output.Text1->setText(written);
    start = Clock::now();
    QTest::mouseClick(output.Check6, Qt::LeftButton);
    QCoreApplication::processEvents();
    const double finish = secondsSince(start);
    session.checkQuiet();
    if (!sameButTyped(written, cliFile, "q"))
        throw Failure("the file Finish wrote is not tallowby-cli convert's with the typed letter");

    std::printf("\n");
    line(QStringLiteral("preview past 2 GiB (synthetic)"),
         QStringLiteral("%1 MB").arg(megabytes(double(preview.size())), 0, 'f', 1),
         QStringLiteral("%1 lines, %2")
             .arg(lines)
             .arg((preview.SendScintilla(QsciScintillaBase::SCI_GETDOCUMENTOPTIONS) &
                   QsciScintillaBase::SC_DOCUMENTOPTION_TEXT_LARGE) != 0
                      ? QStringLiteral("64-bit positions")
                      : QStringLiteral("32-bit positions")));
    line(QStringLiteral("tallowby-cli convert -o FILE, same text"), seconds(cli));
    line(QStringLiteral("Refresh filling it"), seconds(refresh));
    line(QStringLiteral("Ctrl+End from the start, shown"), milliseconds(ctrlEnd));
    std::string last = shown;
    for (std::size_t at; (at = last.find("\r\n")) != std::string::npos;)
        last.replace(at, 2, " | ");
    line(QStringLiteral("    last lines shown"), QString::fromStdString(last),
         QStringLiteral("the XML's own: yes"));
    line(QStringLiteral("a letter typed there"), QStringLiteral("at the end"),
         QStringLiteral("the text ends \"</XML>q\""));
    line(QStringLiteral("\"Finish\" on the output page + one turn"), seconds(finish),
         QStringLiteral("file == tallowby-cli convert's + the letter: yes"));
    line(QStringLiteral("whole-process peak resident memory (VmHWM)"),
         QStringLiteral("%1 MB").arg(megabytes(highWaterBytes()), 0, 'f', 0));
    QFile::remove(written);
    QFile::remove(cliFile);
    QFile::remove(csv);
    return 0;
}

int runComparison(const Options& options, const db::ConnectionSettings& login,
                  tdsserver::Server& server) {
    const std::uint16_t port = server.port();
    const QString output = options.work + QStringLiteral("/export.xml");
    std::vector<double> wRuns, pressRuns, cRuns;
    double w = 0, c = 0;
    std::unique_ptr<Session> session;
    Pieces pieces;
    WizardTiming lastTiming;
    for (int rep = 1; rep <= options.reps; ++rep) {
        c = bestOf(cRuns, [&] { return timeCliExport(options, port, output); });
        // One wizard per round, so that every round starts from an empty preview.
        session.reset();
        session = std::make_unique<Session>(
            options.work + QStringLiteral("/wizard-%1.conf").arg(rep), login);
        w = bestOf(wRuns, [&] {
            lastTiming = timeWizard(*session);
            return lastTiming.seconds;
        });
        pressRuns.push_back(lastTiming.press);
        const std::size_t rows = rowsIn(session->optionsPage().previewText());
        if (rows != static_cast<std::size_t>(options.rows))
            throw Failure("the preview holds " + std::to_string(rows) + " rows, not " +
                          std::to_string(options.rows));
        checkPreview(*session, output, "after \"Next >\"");
        const Pieces round = timePieces(login, session->optionsPage());
        if (rep == 1) {
            pieces = round;
        } else {
            pieces.extraction = std::min(pieces.extraction, round.extraction);
            pieces.conversion = std::min(pieces.conversion, round.conversion);
        }
        std::fprintf(stderr, "round %d of %d: w %.3f s, c %.3f s\n", rep, options.reps,
                     wRuns.back(), cRuns.back());
    }
    const Gaps gaps = timeRefresh(*session);
    checkPreview(*session, output, "after \"Refresh\"");
    const Finishing finishing = timeFinish(options, *session, options.reps);
    const Editing editing = timeEditing(*session->optionsPage().RichTextBox1);
    const double ratio = w / c;
    session.reset();
    // A few seconds at the default 100,000 rows; the delay alone would take minutes at millions.
    constexpr std::chrono::milliseconds kPacketDelay{2};
    constexpr long long kSlowRowsLimit = 200000;
    const bool slowRun = options.rows <= kSlowRowsLimit;
    const Gaps slow =
        slowRun ? timeNextOnASlowNetwork(options, login, server, kPacketDelay) : Gaps{};

    std::printf("\n");
    line(QStringLiteral("figure"), QStringLiteral("best"), QStringLiteral("runs (s)"));
    line(QStringLiteral("(w) wizard: \"Next >\" to options page shown"), seconds(w),
         runsText(wRuns));
    line(QStringLiteral("    of which the press (export + conversion)"),
         seconds(*std::min_element(pressRuns.begin(), pressRuns.end())), runsText(pressRuns));
    line(QStringLiteral("    progress bar reached (last run)"), QString(), marksText(lastTiming));
    line(QStringLiteral("(c) tallowby-cli export, whole command"), seconds(c), runsText(cRuns));
    line(QStringLiteral("w / c"), QString::number(ratio, 'f', 2),
         QStringLiteral("target <= 2.50  %1").arg(verdict(ratio <= 2.5)));
    line(QStringLiteral("preview + CR LF == (c)'s file, byte for byte"), QStringLiteral("yes"),
         QStringLiteral("after \"Next >\" and after \"Refresh\""));
    line(QStringLiteral("Refresh: longest gap between loop turns"), milliseconds(gaps.longest),
         QStringLiteral("target <= 50 ms  %1").arg(verdict(gaps.longest <= 0.050)));
    line(QStringLiteral("    turns, whole Refresh"),
         QStringLiteral("%1").arg(gaps.turns.size() - 2),
         QStringLiteral("%1; the longest gap begins at %2 s")
             .arg(seconds(gaps.total))
             .arg(gaps.longestAt, 0, 'f', 3));
    QStringList few;
    for (const auto& [gap, at] : gaps.longestFew)
        few << QStringLiteral("%1 ms at %2 s").arg(gap * 1000, 0, 'f', 1).arg(at, 0, 'f', 3);
    line(QStringLiteral("    the longest gaps"), QString(), few.join(QStringLiteral(", ")));
    line(QStringLiteral("    preview cleared (first change) after"), milliseconds(gaps.cleared));
    if (slowRun)
        line(QStringLiteral("\"Next >\", %1 ms per packet: longest gap").arg(kPacketDelay.count()),
             milliseconds(slow.longest),
             QStringLiteral("target <= 50 ms  %1; %2 turns in %3, the longest gap begins at %4 s")
                 .arg(verdict(slow.longest <= 0.050))
                 .arg(slow.turns.size() - 2)
                 .arg(seconds(slow.total))
                 .arg(slow.longestAt, 0, 'f', 3));
    else
        line(QStringLiteral("\"Next >\" with a delay per packet"), QStringLiteral("not run"),
             QStringLiteral("above %1 rows").arg(kSlowRowsLimit));
    printFinishAndEditing(finishing, editing);
    line(QStringLiteral("file written by \"Finish\" == preview + CR LF"), QStringLiteral("yes"));

    std::printf("\nThe core's share of (w), outside the wizard, best of %d:\n", options.reps);
    line(QStringLiteral("  extraction (ExtractTableText, no yields)"), seconds(pieces.extraction));
    line(QStringLiteral("  conversion (ConvertTextToXml, output counted)"),
         seconds(pieces.conversion));
    line(QStringLiteral("  rest of (w): widgets, event processing, paint"),
         seconds(w - pieces.extraction - pieces.conversion));
    std::printf("\nPeak resident memory of this run: %.0f MB\n", megabytes(highWaterBytes()));
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
        if (argument == QLatin1String("--large")) {
            options.large = true;
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
        ((!options.capacity || options.large) && options.cli.isEmpty()))
        return std::nullopt;
    return options;
}

} // namespace

int main(int argc, char* argv[]) {
    // Set up as the wizard is, so that its memory behaves as the wizard's does.
    app::keepLargeBlocksInHeap();
    // Offscreen unless told otherwise, the driver through the build's own registration.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("ODBCSYSINI", TALLOWBY_ODBCSYSINI, 0);
    setenv("TDSVER", "7.4", 0);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    const std::optional<Options> options = parse(QCoreApplication::arguments());
    if (!options) {
        std::fputs("usage: bench_app --data FILE --cli PATH --work DIR --rows N [--reps N] "
                   "[--capacity | --large]\n",
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
        const int status = options->large      ? runLarge(*options, login)
                           : options->capacity ? runCapacity(*options, login)
                                               : runComparison(*options, login, server);
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
