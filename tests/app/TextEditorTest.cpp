#include "app/TextEditor.h"

#include "app/LoadedDocument.h"
#include "app/XmlCheck.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <utility>

namespace {

using app::TextEditor;
using app::XmlCheck;

QFont editorFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(9.75);
    font.setBold(true);
    return font;
}

// Values that plain-text widgets are known to change: lone LF and CR, the Unicode line and
// paragraph separators, a non-breaking space, a character outside the BMP.
const std::string kAwkward = "<XML>\r\n <v>a\nb</v>\r\n <v>c\rd</v>\r\n <v>\u2028\u2029</v>\r\n"
                             " <v>\u00A0\U0001F600</v>\r\n</XML>";

TEST(TextEditor, HoldsTheBytesExactlyAndTypesCrLfForEnter) {
    for (const TextEditor::Kind kind : {TextEditor::Kind::Xml, TextEditor::Kind::Plain}) {
        TextEditor editor(nullptr, kind, editorFont());
        editor.setBytes(kAwkward);
        EXPECT_EQ(editor.bytes(), kAwkward);
        editor.SendScintilla(QsciScintillaBase::SCI_DOCUMENTEND);
        QTest::keyClick(&editor, Qt::Key_Return);
        // Characters that QTest has no key for.
        QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("\u00E9\U0001F600"));
        QApplication::sendEvent(&editor, &typed);
        EXPECT_EQ(editor.bytes(), kAwkward + "\r\n\u00E9\U0001F600");
    }
}

// A document made and filled on another thread is shown whole, byte for byte, with no undo
// history and the editor's own settings; the text it replaced can be put back as it was.
TEST(TextEditor, ALoadedDocumentReplacesTheTextWholeAndTheOldTextCanComeBack) {
    app::DocumentMaker maker;
    TextEditor editor(nullptr, TextEditor::Kind::Xml, editorFont());
    editor.setBytes("<a/>");
    QTest::keyClicks(&editor, QStringLiteral("x"));
    const std::string old(editor.bytes());
    editor.setReadOnly(true);
    const std::string large =
        "<XML>\r\n" + std::string(TextEditor::kHighlightLimit, 'v') + "</XML>";
    for (const std::string* text : {&kAwkward, &large}) {
        std::unique_ptr<app::LoadedDocument> loaded;
        std::thread filler([&] {
            loaded = std::make_unique<app::LoadedDocument>(
                maker, text->size(), TextEditor::layoutFor(TextEditor::Kind::Xml, text->size()));
            // In pieces of many sizes, for a large text few and large.
            const std::size_t piece = text->size() > 4096 ? 1u << 20 : 5;
            for (std::size_t at = 0, n = piece; at < text->size(); at += n, n = piece + at % 3)
                loaded->append(std::string_view(*text).substr(at, n));
        });
        filler.join();
        TextEditor::Replaced replaced = editor.takeDocument(*loaded);
        EXPECT_EQ(editor.bytes(), *text);
        EXPECT_EQ(editor.lexer() != nullptr, text == &kAwkward); // a large text is plain
        EXPECT_TRUE(editor.isReadOnly());
        editor.setReadOnly(false);
        EXPECT_FALSE(editor.isUndoAvailable());
        editor.setReadOnly(true);
        replaced.restore();
        EXPECT_EQ(editor.bytes(), old);
        EXPECT_NE(editor.lexer(), nullptr);
        EXPECT_TRUE(editor.isReadOnly());
        editor.setReadOnly(false);             // Scintilla offers no undo in a read-only text
        EXPECT_TRUE(editor.isUndoAvailable()); // its own history came back with it
        editor.setReadOnly(true);
    }
}

TEST(TextEditor, OnlyTheKeysOfATextBoxEdit) {
    const std::string xml = "<XML>\r\n <row>\r\n  <a>b</a>\r\n </row>\r\n</XML>";
    TextEditor editor(nullptr, TextEditor::Kind::Xml, editorFont());
    editor.setBytes(xml);
    // Each change is seen at once, with no turn of the event loop between keys, and without
    // Scintilla's per-change notification, whose cost grows with the change's position.
    int notifications = 0, changes = 0, seen = 0;
    QObject::connect(&editor, &QsciScintillaBase::SCN_MODIFIED, [&] { ++notifications; });
    QObject::connect(&editor, &TextEditor::contentChanged, [&] { ++changes; });
    const auto changed = [&] { return std::exchange(seen, changes) < changes; };
    // Scintilla's own map would lower- or upper-case the selection, delete, duplicate, swap or
    // move lines, or cut a whole line.
    const std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> foreign{
        {Qt::Key_U, Qt::ControlModifier},
        {Qt::Key_U, Qt::ControlModifier | Qt::ShiftModifier},
        {Qt::Key_L, Qt::ControlModifier},
        {Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier},
        {Qt::Key_D, Qt::ControlModifier},
        {Qt::Key_T, Qt::ControlModifier},
        {Qt::Key_Up, Qt::AltModifier | Qt::ShiftModifier},
        {Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier},
        {Qt::Key_Insert, Qt::NoModifier},
    };
    for (const auto& [key, modifiers] : foreign) {
        editor.SendScintilla(QsciScintillaBase::SCI_SETSEL, 0l, 12l); // "<XML>\r\n <row>"
        QTest::keyClick(&editor, key, modifiers);
        QTest::keyClicks(&editor, QStringLiteral("r")); // overtype would eat a character
        EXPECT_TRUE(changed());
        editor.SendScintilla(QsciScintillaBase::SCI_UNDO);
        EXPECT_EQ(editor.bytes(), xml) << QKeySequence(key | modifiers).toString().toStdString();
    }
    // The text box's own keys still work.
    editor.SendScintilla(QsciScintillaBase::SCI_DOCUMENTEND);
    QTest::keyClick(&editor, Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(editor.bytes(), xml.substr(0, xml.size() - 1)); // ">" is a word of its own
    QTest::keyClick(&editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&editor, Qt::Key_Delete);
    EXPECT_TRUE(editor.isEmptyText());
    EXPECT_TRUE(changed());
    QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier); // undo counts too
    EXPECT_TRUE(changed());
    QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(editor.bytes(), xml);
    EXPECT_EQ(notifications, 0);
}

struct CheckCase {
    const char* name;
    std::string text;
    qint64 line; // 0: well-formed
    const char* words;
};

class XmlCheckCases : public testing::TestWithParam<CheckCase> {};

TEST_P(XmlCheckCases, FindsTheFirstFault) {
    const CheckCase& c = GetParam();
    XmlCheck check(c.text);
    // A slice of no time at all still makes progress, so a long text cannot stall the check.
    int steps = 0;
    while (!check.step(std::chrono::milliseconds(0)) && steps < 100000)
        ++steps;
    ASSERT_TRUE(check.done());
    if (c.line == 0) {
        EXPECT_FALSE(check.problem().has_value()) << check.problem()->message.toStdString();
        return;
    }
    ASSERT_TRUE(check.problem().has_value());
    EXPECT_EQ(check.problem()->line, c.line);
    EXPECT_TRUE(check.problem()->message.startsWith(QStringLiteral("line %1: ").arg(c.line)));
    EXPECT_TRUE(check.problem()->message.contains(QString::fromUtf8(c.words), Qt::CaseInsensitive))
        << check.problem()->message.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Documents, XmlCheckCases,
    testing::Values(
        CheckCase{"WellFormed", kAwkward, 0, ""},
        // Tags are used as typed, so a prefix need not be declared: the mark is for XML 1.0.
        CheckCase{"UndeclaredPrefix", "<ns:XML>\r\n <a:row x:y=\"1\"/>\r\n</ns:XML>", 0, ""},
        CheckCase{"References", "<X>\r\n <v>&amp;&lt;&#xD;&#x10FFFF;</v>\r\n</X>", 0, ""},
        CheckCase{"MismatchedTag", "<X>\r\n <a>1</a>\r\n <b>2</c>\r\n</X>", 3, "mismatch"},
        CheckCase{"ControlCharacterReference", "<X>\r\n <v>&#x1;</v>\r\n</X>", 2, "character"},
        CheckCase{"RawControlCharacter", "<X>\r\n\r\n <v>\x01</v>\r\n</X>", 3, "unexpected"},
        CheckCase{"Unclosed", "<X>\r\n <v>1</v>\r\n", 3, "premature"},
        CheckCase{"SecondRoot", "<X/>\r\n<Y/>", 2, "extra content"},
        CheckCase{"LessThanInValue", "<X>\r\n <v>1 < 2</v>\r\n</X>", 2, ""}),
    [](const testing::TestParamInfo<CheckCase>& param) { return std::string(param.param.name); });

} // namespace
