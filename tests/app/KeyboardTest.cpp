#include "Fixture.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/PushCheckBox.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

namespace {

class Keyboard : public WizardTest {
protected:
    // A key to whatever has the focus in the active page.
    static void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        QTest::keyClick(focused, k, modifiers);
    }
    // Tab until `target` has the focus, at most once round the page.
    static void tabTo(QWidget* target) {
        for (int i = 0; i < 20 && QApplication::focusWidget() != target; ++i)
            key(Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), target);
    }
    static void activate(QWidget& page) {
        ASSERT_TRUE(page.isVisible());
        QApplication::setActiveWindow(&page);
    }
};

TEST_F(Keyboard, TheWholeFlowFromAStoredLoginToAWrittenFileNeedsNoMouse) {
    app::Form2& tables = startOnTables();
    activate(tables);
    ASSERT_EQ(QApplication::focusWidget(), tables.List1);
    ASSERT_EQ(tables.List1->currentRow(), 0);
    key(Qt::Key_Down); // the second table
    const QString table = tables.List1->currentItem()->text();
    tabTo(tables.Check3);
    key(Qt::Key_Space); // "Next >"

    app::Form3& options = wizard->form3();
    activate(options);
    tabTo(options.Text5); // "XML Tag:" selects its text on Tab, so typing replaces it
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Shop"));
    tabTo(options.Check17);
    key(Qt::Key_Space); // "Refresh"
    EXPECT_TRUE(options.previewText().starts_with("<Shop>")) << table.toStdString();
    tabTo(options.Check7);
    key(Qt::Key_Space); // "Next >"

    app::Form4& output = wizard->form4();
    activate(output);
    tabTo(output.Text1);
    QTest::keyClicks(QApplication::focusWidget(), path("keys.xml"));
    key(Qt::Key_Backtab, Qt::ShiftModifier); // "Finish" comes before the box
    ASSERT_EQ(QApplication::focusWidget(), output.Check6);
    key(Qt::Key_Space); // "Finish"
    EXPECT_EQ(readFile(path("keys.xml")), previewFile());
    EXPECT_EQ(output.Check6->text(), QStringLiteral("Exit"));
    EXPECT_TRUE(host.messages.empty());
}

} // namespace
