#include "app/Design.h"

#include "Fixture.h"
#include "app/Form1.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/look/Look.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QWidget>

namespace {

class PageDesign : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        make();
        pages[0] = std::make_unique<app::Form1>(*wizard);
        pages[1] = std::make_unique<app::Form2>(*wizard);
        pages[2] = std::make_unique<app::Form3>(*wizard);
        auto output = std::make_unique<app::Form4>(*wizard);
        output->load();
        pages[3] = std::move(output);
    }
    void TearDown() override {
        for (auto& page : pages)
            page.reset();
        WizardTest::TearDown();
    }

    std::unique_ptr<QWidget> pages[4];
};

// Tab passes over the controls placed beyond the page's edge.
TEST_F(PageDesign, TabSkipsTheControlsOutOfView) {
    QWidget& page = *pages[2];
    page.show();
    QApplication::setActiveWindow(&page);
    QStringList names;
    for (int i = 0; i < 8; ++i) {
        ASSERT_NE(page.focusWidget(), nullptr);
        names << page.focusWidget()->objectName();
        QTest::keyClick(page.focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(names, (strings({"Check17", "Text5", "Text4", "Check2", "RichTextBox1", "Check8",
                               "Check9", "Check17"})));
}

TEST_F(PageDesign, AHiddenControlWithTheFocusReceivesTyping) {
    auto& options = static_cast<app::Form3&>(*pages[2]);
    options.show();
    QApplication::setActiveWindow(&options);
    options.Text3->setFocus();
    QTest::keyClicks(options.Text3, QStringLiteral(";"));
    EXPECT_EQ(options.Text3->text(), QStringLiteral(",;"));
    EXPECT_EQ(options.options().separator, ",;");
    options.hide();
}

void moveOver(QWidget& page, const char* name) {
    QPoint at(3, 3); // the background: no control there on any page
    if (name) {
        auto* control = page.findChild<QWidget*>(QString::fromLatin1(name));
        at = control->mapTo(&page, control->rect().center());
    }
    // A move to where the mouse already is does not count: come from one pixel aside.
    QTest::mouseMove(page.windowHandle(), at + QPoint(1, 0));
    QTest::mouseMove(page.windowHandle(), at);
    QCoreApplication::processEvents();
}

// On every page a button takes the hand; a box or list gives the default back, and so does
// the bare page, except on the output page, where neither changes the setting.
TEST_F(PageDesign, ButtonsTakeTheHandAndTheBoxesAndTheBackgroundTheDefault) {
    const struct {
        const char* button;
        const char* box;
        int background; // what a move over the bare page sets; -1: nothing
    } kPages[] = {{"Check5", "Text1", look::Default},
                  {"Check3", "List1", look::Default},
                  {"Check17", "RichTextBox1", look::Default},
                  {"Check9", "Text1", -1}};
    for (int p = 0; p < 4; ++p) {
        SCOPED_TRACE(p + 1);
        QWidget& page = *pages[p];
        page.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
        look::PagePointer& pointer = dynamic_cast<app::Page&>(page).pointer();
        moveOver(page, nullptr); // the mouse enters the window first
        pointer.setSetting(look::Default);
        moveOver(page, kPages[p].button);
        EXPECT_EQ(pointer.setting(), look::Custom);
        moveOver(page, kPages[p].box);
        EXPECT_EQ(pointer.setting(), kPages[p].background < 0 ? look::Custom : look::Default);
        pointer.setSetting(look::Custom);
        moveOver(page, nullptr);
        EXPECT_EQ(pointer.setting(),
                  kPages[p].background < 0 ? int(look::Custom) : kPages[p].background);
        pointer.setSetting(look::Default);
        page.hide();
    }
}

} // namespace
