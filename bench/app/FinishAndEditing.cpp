#include "FinishAndEditing.h"

#include "Measuring.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/PushCheckBox.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <algorithm>

namespace benchapp {

void showNow(app::TextEditor& editor) {
    editor.viewport()->repaint();
    QCoreApplication::processEvents();
}

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

Finishing timeFinish(const Options& options, Session& session, int convertRuns) {
    Finishing finishing;
    app::Form3& page = session.optionsPage();
    const QString delimited = options.work + QStringLiteral("/delimited.txt");
    {
        QFile file(delimited);
        const std::string_view text = page.Text1->bytes();
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

} // namespace benchapp
