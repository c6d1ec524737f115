#include "Session.h"

#include "Measuring.h"
#include "app/PushCheckBox.h"
#include "app/TextEditor.h"

#include <QFile>
#include <QProcess>
#include <QProgressBar>
#include <QTest>
#include <functional>

namespace benchapp {
namespace {

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

} // namespace

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

QString marksText(const WizardTiming& timing) {
    QStringList parts;
    for (const auto& [percent, at] : timing.marks)
        parts << QStringLiteral("%1%: %2 s").arg(percent).arg(at, 0, 'f', 2);
    parts << QStringLiteral("last insertion: %1 s").arg(timing.lastInsertion, 0, 'f', 2);
    parts << QStringLiteral("options page Show: %1 s").arg(timing.pageShown, 0, 'f', 2);
    parts << QStringLiteral("press returned: %1 s").arg(timing.press, 0, 'f', 2);
    return parts.join(QStringLiteral(", "));
}

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

double timeCliExport(const Options& options, std::uint16_t port, const QString& output) {
    return timeCli(options,
                   {QStringLiteral("export"), QStringLiteral("--table"), QStringLiteral("bench"),
                    QStringLiteral("--server"), QStringLiteral("127.0.0.1,%1").arg(port),
                    QStringLiteral("--user"), QStringLiteral("demo"), QStringLiteral("--database"),
                    QStringLiteral("bench"), QStringLiteral("-o"), output,
                    QStringLiteral("--force")});
}

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

} // namespace benchapp
