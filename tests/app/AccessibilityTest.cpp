#include "Fixture.h"
#include "app/Form1.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/PushCheckBox.h"
#include "app/TextEditor.h"

#include <QAccessible>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>

namespace {

class Accessibility : public WizardTest {
protected:
    // Every control of `page` that can be seen, as assistive tools are given it.
    static std::vector<QAccessibleInterface*> shown(QWidget& page) {
        std::vector<QAccessibleInterface*> found;
        std::vector<QAccessibleInterface*> todo{QAccessible::queryAccessibleInterface(&page)};
        while (!todo.empty()) {
            QAccessibleInterface* node = todo.back();
            todo.pop_back();
            for (int i = 0; i < node->childCount(); ++i)
                if (QAccessibleInterface* child = node->child(i);
                    child && !child->state().invisible) {
                    found.push_back(child);
                    todo.push_back(child);
                }
        }
        return found;
    }
};

TEST_F(Accessibility, EveryControlHasANameOfItsOwnAndEveryButtonIsAPushButton) {
    app::Wizard& w = start();
    w.form4(); // made on first use, like every page
    const QRegularExpression internal(QStringLiteral("^[A-Za-z]+[0-9]+$"));
    std::vector<QWidget*> pages{&w.form1(), &w.form2(), &w.form3(), &w.form4()};
    int buttons = 0;
    for (QWidget* page : pages) {
        SCOPED_TRACE(page->objectName().toStdString());
        page->show();
        QAccessibleInterface* window = QAccessible::queryAccessibleInterface(page);
        EXPECT_EQ(window->role(), QAccessible::Window);
        EXPECT_EQ(window->text(QAccessible::Name), page->windowTitle());
        int controls = 0;
        for (QAccessibleInterface* control : shown(*page)) {
            QObject* object = control->object();
            const QString name = control->text(QAccessible::Name);
            SCOPED_TRACE(object->objectName().toStdString());
            EXPECT_FALSE(internal.match(name).hasMatch()) << name.toStdString();
            // The controls that take input or act each need a name of their own.
            if (!QList{QAccessible::EditableText, QAccessible::Button, QAccessible::CheckBox,
                       QAccessible::List, QAccessible::ProgressBar}
                     .contains(control->role()))
                continue;
            ++controls;
            EXPECT_FALSE(name.trimmed().isEmpty());
            if (qobject_cast<app::PushCheckBox*>(object)) {
                ++buttons;
                EXPECT_EQ(control->role(), QAccessible::Button);
                EXPECT_FALSE(control->state().checkable);
                ASSERT_NE(control->actionInterface(), nullptr);
                EXPECT_TRUE(control->actionInterface()->actionNames().contains(
                    QAccessibleActionInterface::pressAction()));
            }
            // A box with a label beside it is labelled by it.
            for (QLabel* label : page->findChildren<QLabel*>())
                if (label->buddy() == object) {
                    const auto relations = control->relations(QAccessible::Label);
                    EXPECT_TRUE(std::any_of(relations.begin(), relations.end(),
                                            [&](auto& r) { return r.first->object() == label; }));
                    EXPECT_EQ(name, label->text());
                }
        }
        EXPECT_GT(controls, 4);
        page->hide();
    }
    EXPECT_EQ(buttons, 6 + 4 + 9 + 5); // those out of view on the options page among them
}

// Offsets are in UTF-16 units, Scintilla's positions in UTF-8 bytes: the non-ASCII letters
// and the emoji make them differ.
TEST_F(Accessibility, ThePreviewGivesItsTextItsCaretAndItsMarkThroughTheTextInterface) {
    sql("CREATE TABLE Cities (name [nvarchar(20)]);"
        "INSERT INTO Cities VALUES ('Zürich'), ('Tromsø 😀'), ('Oslo');");
    exportTable(QStringLiteral("Cities"));
    app::TextEditor& preview = *wizard->form3().RichTextBox1;
    QApplication::setActiveWindow(&wizard->form3());
    preview.setFocus();
    QAccessibleInterface* control = QAccessible::queryAccessibleInterface(&preview);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->text(QAccessible::Name), QStringLiteral("XML preview"));
    QAccessibleTextInterface* text = control->textInterface();
    ASSERT_NE(text, nullptr);
    ASSERT_NE(control->editableTextInterface(), nullptr);

    const QString whole = QString::fromUtf8(preview.bytes());
    EXPECT_EQ(text->characterCount(), whole.size());
    EXPECT_EQ(text->text(0, 5), QStringLiteral("<XML>"));
    const qsizetype emoji = whole.indexOf(QStringLiteral("😀"));
    EXPECT_EQ(text->text(int(emoji) - 7, int(emoji) + 2), QStringLiteral("Tromsø 😀"));
    int start = 0, end = 0;
    EXPECT_EQ(text->textAtOffset(int(emoji), QAccessible::LineBoundary, &start, &end),
              QStringLiteral("  <name>Tromsø 😀</name>\r\n"));
    EXPECT_EQ(whole.mid(start, end - start), QStringLiteral("  <name>Tromsø 😀</name>\r\n"));
    EXPECT_EQ(text->textAfterOffset(int(emoji), QAccessible::LineBoundary, &start, &end),
              QStringLiteral(" </row>\r\n"));
    EXPECT_EQ(text->textBeforeOffset(0, QAccessible::LineBoundary, &start, &end), QString());
    EXPECT_EQ(start, -1);

    // The caret after keys: the end of the emoji's line, then a letter typed there.
    text->setCursorPosition(int(emoji));
    QTest::keyClick(&preview, Qt::Key_End);
    const int lineEnd = int(whole.indexOf(QStringLiteral("\r\n"), emoji));
    EXPECT_EQ(text->cursorPosition(), lineEnd);
    QTest::keyClick(&preview, Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(text->selectionCount(), 1);
    text->selection(0, &start, &end);
    EXPECT_EQ(text->text(start, end), QStringLiteral("<name>Tromsø 😀</name>"));
    QTest::keyClick(&preview, Qt::Key_End);
    QTest::sendKeyEvent(QTest::Click, &preview, Qt::Key_unknown, QStringLiteral("é"),
                        Qt::NoModifier);
    EXPECT_EQ(text->cursorPosition(), lineEnd + 1);
    EXPECT_EQ(text->characterCount(), whole.size() + 1);

    // The well-formedness mark in words while it is shown.
    EXPECT_EQ(control->text(QAccessible::Description), QString());
    QTest::sendKeyEvent(QTest::Click, &preview, Qt::Key_Less, '<', Qt::NoModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !preview.markMessage().isEmpty(); }));
    EXPECT_EQ(control->text(QAccessible::Description), preview.markMessage());
    EXPECT_TRUE(preview.markMessage().startsWith(QStringLiteral("line ")));
    // The faulty line is underlined on screen as well, and only while it is faulty.
    const unsigned long faulty =
        preview.markMessage().section(QLatin1Char(' '), 1, 1).chopped(1).toULong() - 1;
    const auto underlined = [&] {
        const long at = preview.SendScintilla(QsciScintillaBase::SCI_GETLINEINDENTPOSITION, faulty);
        return preview.SendScintilla(QsciScintillaBase::SCI_INDICATORVALUEAT, 8ul, at) != 0;
    };
    EXPECT_TRUE(underlined()) << preview.markMessage().toStdString();
    QTest::keyClick(&preview, Qt::Key_Backspace);
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview.markMessage().isEmpty(); }));
    EXPECT_EQ(control->text(QAccessible::Description), QString());
    EXPECT_FALSE(underlined());
}

} // namespace
