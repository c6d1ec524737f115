#include "app/Design.h"

#include "Fixture.h"
#include "app/Form1.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/PushCheckBox.h"
#include "app/TextEditor.h"
#include "app/look/Look.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTest>
#include <QWidget>

namespace {

// The pages as drawn: every control's text, place and size (twips), font size and state.
struct Control {
    int page;
    const char* name;
    const char* text; // caption or starting text; nullptr: not checked
    int left, top, width, height;
    double points; // 0: not checked
    bool enabled;
};

const Control kControls[] = {
    {1, "Label5", " Please provide the login information for your MS SQL Server db.", 120, 120,
     5535, 255, 9, true},
    {1, "Label2", "Server:", 240, 525, 1095, 255, 9, true},
    {1, "Text1", "", 1320, 480, 4455, 330, 9, true},
    {1, "Label1", "Username:", 240, 1005, 1095, 255, 9, true},
    {1, "Text2", "", 1320, 960, 4455, 330, 9, true},
    {1, "Label4", "Password:", 240, 1485, 1095, 255, 9, true},
    {1, "Text3", "", 1320, 1440, 4455, 330, 9, true},
    {1, "Label3", "Database:", 240, 1965, 975, 255, 9, true},
    {1, "Text4", "", 1320, 1920, 4455, 330, 9, true},
    {1, "Check5", "Test Connection", 120, 2400, 4215, 375, 9, true},
    {1, "Check2", "Help", 4440, 2400, 1335, 375, 9, true},
    {1, "Check1", "Cancel", 120, 3000, 1335, 400, 9, true},
    {1, "Check4", "< Back", 1560, 3000, 1335, 400, 9, false},
    {1, "Check3", "Next >", 3000, 3000, 1335, 400, 9, true},
    {1, "Check6", "Finish", 4440, 3000, 1335, 400, 9, false},
    {2, "Label1", " Which table would you like to convert to XML?", 240, 120, 5415, 255, 9, true},
    {2, "List1", nullptr, 120, 480, 5655, 1410, 9, true},
    {2, "ProgressBar1", nullptr, 120, 1995, 5655, 375, 0, true},
    {2, "Check1", "Cancel", 120, 2640, 1335, 400, 9, true},
    {2, "Check2", "< Back", 1560, 2640, 1335, 400, 9, true},
    {2, "Check3", "Next >", 3000, 2640, 1335, 400, 9, true},
    {2, "Check5", "Finish", 4440, 2640, 1335, 400, 9, false},
    {3, "Check2", "Use Row Tags", 140, 120, 1575, 255, 9, true},
    {3, "Label2", "Row Tag:", 1800, 120, 975, 255, 9.75, true},
    {3, "Text4", "row", 2760, 120, 1215, 285, 9.75, true},
    {3, "Label3", "XML Tag:", 4080, 120, 1095, 255, 9.75, true},
    {3, "Text5", "XML", 5040, 120, 735, 285, 9.75, true},
    {3, "Check17", "Refresh", 120, 600, 5655, 400, 9, true},
    {3, "RichTextBox1", "", 120, 1080, 5655, 2055, 9.75, true},
    {3, "Check9", "Cancel", 120, 3360, 1335, 400, 9, true},
    {3, "Check8", "< Back", 1560, 3360, 1335, 400, 9, true},
    {3, "Check7", "Next >", 3000, 3360, 1335, 400, 9, false},
    {3, "Check6", "Finish", 4440, 3360, 1335, 400, 9, false},
    {3, "Command1", "Command1", -720, 0, 615, 495, 0, true},
    {3, "ProgressBar1", nullptr, 120, 4560, 5655, 375, 0, true},
    {3, "Check4", "Save to File", 120, 4920, 6615, 375, 11.25, true},
    {3, "Frame1", "CSV File", 120, 5280, 6855, 3255, 9, true},
    // Inside the frame, from its corner.
    {3, "Check1", "There is a Header Row", 600, 240, 2535, 255, 9, true},
    {3, "Label1", "Seperating Character:", 3240, 240, 2175, 255, 9.75, true},
    {3, "Text3", ",", 5520, 240, 375, 285, 9, true},
    {3, "Text1", "", 120, 600, 6615, 2055, 9.75, true},
    {3, "Check3", "Load CSV", 120, 2760, 2415, 375, 11.25, true},
    {3, "Check20", "Save Above As CSV", 2640, 2760, 2415, 375, 11.25, true},
    {3, "Check5", "Clear", 5160, 2760, 1575, 375, 11.25, true},
    {4, "Label1", " Where would you like to save XML file?", 240, 120, 4575, 255, 9, true},
    {4, "Text1", "", 120, 480, 5175, 285, 9.75, true},
    {4, "Check5", "...", 5400, 480, 325, 330, 9, true},
    {4, "Check9", "Cancel", 120, 1080, 1335, 400, 9, true},
    {4, "Check8", "< Back", 1560, 1080, 1335, 400, 9, true},
    {4, "Check7", "Next >", 3000, 1080, 1335, 400, 9, false},
    {4, "Check6", "Finish", 4440, 1080, 1335, 400, 9, true},
};

QString textOf(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* box = qobject_cast<QLineEdit*>(widget))
        return box->text();
    if (auto* editor = qobject_cast<QsciScintilla*>(widget))
        return editor->text();
    if (auto* frame = qobject_cast<QGroupBox*>(widget))
        return frame->title();
    return QStringLiteral("?");
}

int px(int twips) {
    return static_cast<int>(std::lround(twips / 15.0));
}

class PageDesign : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        wizard = std::make_unique<app::Wizard>(host, *store, kTimeout);
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

    // The names of the controls that Tab visits, from the page's first focus on.
    static QStringList tabWalk(QWidget& page, int steps) {
        page.show();
        QApplication::setActiveWindow(&page);
        QStringList names;
        for (int i = 0; i < steps; ++i) {
            QWidget* focused = page.focusWidget();
            names << (focused ? focused->objectName() : QStringLiteral("(none)"));
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        page.hide();
        return names;
    }

    std::unique_ptr<QWidget> pages[4];
};

TEST_F(PageDesign, EveryControlStandsWhereThePageDrawsIt) {
    for (const Control& c : kControls) {
        SCOPED_TRACE(testing::Message() << "page " << c.page << " " << c.name);
        const QList<QWidget*> found =
            pages[c.page - 1]->findChildren<QWidget*>(QString::fromLatin1(c.name));
        ASSERT_EQ(found.size(), 1);
        QWidget* w = found.constFirst();
        EXPECT_EQ(w->geometry(), QRect(px(c.left), px(c.top), px(c.width), px(c.height)));
        if (c.text) {
            EXPECT_EQ(textOf(w), QString::fromLatin1(c.text));
        }
        if (c.points > 0) {
            EXPECT_EQ(w->font().family(), QStringLiteral("Arial"));
            EXPECT_EQ(w->font().weight(), QFont::Bold);
            EXPECT_DOUBLE_EQ(w->font().pointSizeF(), c.points);
        }
        EXPECT_EQ(w->isEnabled(), c.enabled);
    }
}

TEST_F(PageDesign, PagesHaveFixedSizeWhiteBackgroundAndNoIcon) {
    const QSize sizes[] = {{393, 235}, {393, 211}, {393, 260}, {393, 107}};
    const bool minimizable[] = {false, true, true, false};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i + 1);
        QWidget& page = *pages[i];
        EXPECT_EQ(page.minimumSize(), sizes[i]);
        EXPECT_EQ(page.maximumSize(), sizes[i]);
        EXPECT_TRUE(page.isWindow());
        EXPECT_FALSE(page.windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_EQ(bool(page.windowFlags() & Qt::WindowMinimizeButtonHint), minimizable[i]);
        EXPECT_TRUE(page.windowFlags() & Qt::WindowCloseButtonHint);
        EXPECT_EQ(page.palette().color(QPalette::Window), QColor(Qt::white));
        EXPECT_TRUE(page.autoFillBackground());
        const QImage icon = page.windowIcon().pixmap(32, 32).toImage();
        ASSERT_FALSE(icon.isNull());
        bool transparent = true;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                transparent = transparent && qAlpha(icon.pixel(x, y)) == 0;
        EXPECT_TRUE(transparent);
    }
    EXPECT_EQ(pages[0]->windowTitle(), QStringLiteral("Setup Connections"));
    EXPECT_EQ(pages[3]->windowTitle(), QStringLiteral("Brisklet"));
    // The one control in the page's default font.
    auto* command = pages[2]->findChild<QWidget*>(QStringLiteral("Command1"));
    EXPECT_FALSE(command->font().bold());
}

TEST_F(PageDesign, TabVisitsTheControlsInTheirOrderHiddenOnesIncluded) {
    EXPECT_EQ(tabWalk(*pages[0], 9), (strings({"Text1", "Text2", "Text3", "Text4", "Check5",
                                               "Check1", "Check3", "Check2", "Text1"})));
    EXPECT_EQ(tabWalk(*pages[1], 5), (strings({"List1", "Check1", "Check2", "Check3", "List1"})));
    EXPECT_EQ(tabWalk(*pages[2], 16),
              (strings({"Command1", "Check20", "Check3", "Check17", "Check1", "Text3", "Check5",
                        "Text1", "Text5", "Text4", "Check2", "Check4", "RichTextBox1", "Check8",
                        "Check9", "Command1"})));
    EXPECT_EQ(tabWalk(*pages[3], 6),
              (strings({"Check9", "Check8", "Check6", "Text1", "Check5", "Check9"})));
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

// What a mouse move over each visible control does to the page pointer: -1 leaves it as it was.
struct Binding {
    int page;
    const char* name; // nullptr: the bare page background
    int sets;
};

const Binding kBindings[] = {
    {1, "Check1", look::Custom},
    {1, "Check2", look::Custom},
    {1, "Check3", look::Custom},
    {1, "Check5", look::Custom},
    {1, nullptr, look::Default},
    {1, "Text1", look::Default},
    {1, "Text2", look::Default},
    {1, "Text3", look::Default},
    {1, "Text4", look::Default},
    {1, "Label1", -1},
    {1, "Label5", -1},

    {2, "Check1", look::Custom},
    {2, "Check2", look::Custom},
    {2, "Check3", look::Custom},
    {2, nullptr, look::Default},
    {2, "Label1", look::Default},
    {2, "List1", look::Default},
    {2, "ProgressBar1", -1},

    {3, "Check7", look::Custom},
    {3, "Check8", look::Custom},
    {3, "Check9", look::Custom},
    {3, "Check17", look::Custom},
    {3, nullptr, look::Default},
    {3, "Label2", look::Default},
    {3, "Label3", look::Default},
    {3, "Check2", look::Default},
    {3, "RichTextBox1", look::Default},
    {3, "Text4", look::Default},
    {3, "Text5", look::Default},

    {4, "Check5", look::Custom},
    {4, "Check6", look::Custom},
    {4, "Check8", look::Custom},
    {4, "Check9", look::Custom},
    {4, nullptr, -1},
    {4, "Label1", -1},
    {4, "Text1", -1},
};

look::PagePointer& pointerOf(QWidget& page) {
    return dynamic_cast<app::Page&>(page).pointer();
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

TEST_F(PageDesign, MovingTheMouseSetsThePointerOfEachControlButNeverEndsBusy) {
    pages[2]
        ->findChild<app::TextEditor*>(QStringLiteral("RichTextBox1"))
        ->setBytes("x"); // so that "Next >" is enabled and bound
    for (int p = 1; p <= 4; ++p) {
        QWidget& page = *pages[p - 1];
        page.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
        look::PagePointer& pointer = pointerOf(page);
        moveOver(page, nullptr); // the mouse enters the window first
        for (const Binding& b : kBindings) {
            if (b.page != p)
                continue;
            SCOPED_TRACE(testing::Message()
                         << "page " << p << " " << (b.name ? b.name : "background"));
            for (int before : {int(look::Default), int(look::Custom)}) {
                pointer.setSetting(before);
                moveOver(page, b.name);
                EXPECT_EQ(pointer.setting(), b.sets < 0 ? before : b.sets);
            }
            pointer.setSetting(look::Busy);
            moveOver(page, b.name);
            EXPECT_EQ(pointer.setting(), look::Busy);
        }
        pointer.setSetting(look::Default);
        page.hide();
    }
}

} // namespace
