#include "app/LoadedDocument.h"
#include "app/TextEditor.h"

#include <QTest>
#include <gtest/gtest.h>
#include <string>

namespace {

using app::TextEditor;
using Sci = QsciScintillaBase;

// A preview past 2 GiB, in lines of a kilobyte: what the user sees at its end, where typing
// lands and where the mark of a fault on its last line goes all pass positions past 2^31.
TEST(LargeDocument, PastTwoGibibytesTheEndIsShownTypedAtAndMarked) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(9.75);
    TextEditor editor(nullptr, TextEditor::Kind::Xml, font);
    editor.resize(600, 300);
    editor.show();

    const std::string opening = "<XML>\r\n";
    const std::string row = " <row>" + std::string(1000, 'x') + "</row>\r\n";
    const std::string closing = " <row>last</row>\r\n</XMX>"; // the wrong closing tag
    std::string chunk;
    for (int i = 0; i < 65536; ++i)
        chunk += row;
    const std::size_t chunks = (std::size_t{1} << 31) / chunk.size() + 1;
    const std::size_t total = opening.size() + chunks * chunk.size() + closing.size();
    ASSERT_GT(total, std::size_t{1} << 31);

    // Made away from the editor, as the options page makes its documents, and put in place.
    app::DocumentMaker maker;
    app::LoadedDocument loaded(maker, total, TextEditor::layoutFor(TextEditor::Kind::Xml, total));
    loaded.append(opening);
    for (std::size_t i = 0; i < chunks; ++i)
        loaded.append(chunk);
    loaded.append(closing);
    const TextEditor::Replaced replaced = editor.takeDocument(loaded);
    ASSERT_EQ(editor.size(), total);
    EXPECT_TRUE(editor.SendScintilla(Sci::SCI_GETDOCUMENTOPTIONS) &
                Sci::SC_DOCUMENTOPTION_TEXT_LARGE);

    QTest::keyClick(&editor, Qt::Key_End, Qt::ControlModifier);
    QCoreApplication::processEvents();
    const long lines = editor.SendScintilla(Sci::SCI_GETLINECOUNT);
    EXPECT_EQ(lines, static_cast<long>(2 + chunks * 65536 + 1));
    EXPECT_EQ(editor.SendScintilla(Sci::SCI_GETCURRENTPOS), static_cast<long>(total));
    // The last lines on the screen are the text's own.
    const long first = editor.SendScintilla(Sci::SCI_GETFIRSTVISIBLELINE);
    EXPECT_GE(first + editor.SendScintilla(Sci::SCI_LINESONSCREEN), lines - 1);
    const long secondLast =
        editor.SendScintilla(Sci::SCI_POSITIONFROMLINE, static_cast<unsigned long>(lines - 2));
    EXPECT_EQ(secondLast, static_cast<long>(total - closing.size()));
    const auto* shown = reinterpret_cast<const char*>(
        editor.SendScintilla(Sci::SCI_GETRANGEPOINTER, static_cast<unsigned long>(secondLast),
                             static_cast<long>(closing.size())));
    EXPECT_EQ(std::string_view(shown, closing.size()), closing);

    QTest::keyClick(&editor, Qt::Key_A);
    ASSERT_EQ(editor.size(), total + 1);
    EXPECT_EQ(editor.bytes().substr(total - 6), "</XMX>a");

    // The fault is on the last line, and the mark is there.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !editor.markMessage().isEmpty(); }, 600'000));
    EXPECT_TRUE(editor.markMessage().startsWith(QStringLiteral("line %1:").arg(lines)))
        << editor.markMessage().toStdString();
    EXPECT_NE(editor.SendScintilla(Sci::SCI_INDICATORVALUEAT, 8ul, static_cast<long>(total - 3)),
              0);
    EXPECT_EQ(editor.SendScintilla(Sci::SCI_INDICATORVALUEAT, 8ul, static_cast<long>(secondLast)),
              0);
}

} // namespace
