#include "FinishAndEditing.h"
#include "Measuring.h"
#include "Scenarios.h"
#include "Session.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/PushCheckBox.h"
#include "app/TextEditor.h"

#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

namespace benchapp {
namespace {

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

} // namespace

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

} // namespace benchapp
