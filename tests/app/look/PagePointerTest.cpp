#include "look/Look.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

using look::Busy;
using look::Custom;
using look::Default;

// A page laid out like the wizard's: buttons that take the hand, boxes, a list, a preview and a
// frame that take the default, a label and a disabled button without a binding, and a box with
// its own I-beam.
class PagePointerTest : public ::testing::Test {
protected:
    void SetUp() override {
        page_.setFixedSize(400, 300);
        next_ = place(new QPushButton(QStringLiteral("Next >"), &page_), 10, 250, 90, 27);
        finish_ = place(new QPushButton(QStringLiteral("Finish"), &page_), 110, 250, 90, 27);
        finish_->setEnabled(false);
        back_ = place(new QPushButton(QStringLiteral("< Back"), &page_), 210, 250, 90, 27);
        back_->setEnabled(false);
        label_ = place(new QLabel(QStringLiteral("Server:"), &page_), 10, 10, 80, 17);
        server_ = place(new QLineEdit(&page_), 100, 10, 200, 22);
        rowTag_ = place(new QLineEdit(QStringLiteral("row"), &page_), 310, 10, 80, 22);
        list_ = place(new QListWidget(&page_), 10, 40, 180, 90);
        for (int i = 0; i < 30; ++i)
            list_->addItem(QStringLiteral("table %1").arg(i));
        preview_ = place(new QPlainTextEdit(&page_), 200, 40, 190, 90);
        frame_ = place(new QGroupBox(QStringLiteral("CSV File"), &page_), 10, 140, 380, 100);
        header_ =
            place(new QCheckBox(QStringLiteral("There is a Header Row"), frame_), 10, 20, 200, 20);
        load_ = place(new QPushButton(QStringLiteral("Load CSV"), frame_), 10, 60, 100, 27);
        clear_ = place(new QPushButton(QStringLiteral("Clear"), frame_), 120, 60, 100, 27);

        pointer_ = new look::PagePointer(page_);
        for (QWidget* hand : {next_, finish_, clear_})
            pointer_->bind(hand, Custom);
        for (QWidget* plain : std::initializer_list<QWidget*>{&page_, server_, rowTag_, list_,
                                                              preview_, frame_, header_})
            pointer_->bind(plain, Default);
        pointer_->keepOwnPointer(rowTag_);

        page_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&page_));
    }

    template <typename W>
    static W* place(W* widget, int x, int y, int w, int h) {
        widget->setGeometry(x, y, w, h);
        return widget;
    }

    // The window system's move, delivered to the page's window as a real one would be.
    void moveOver(QWidget* widget, QPoint at = QPoint(-1, -1)) {
        if (at == QPoint(-1, -1))
            at = widget->rect().center();
        moveTo(widget->mapTo(&page_, at));
    }
    void moveOverBackground() { moveTo(QPoint(395, 295)); }
    void moveTo(QPoint point) {
        // A move to where the mouse already is does not count: come from one pixel aside.
        QTest::mouseMove(page_.windowHandle(), point + QPoint(1, 0));
        QTest::mouseMove(page_.windowHandle(), point);
        QCoreApplication::processEvents();
    }

    static Qt::CursorShape shape(const QWidget* widget) { return widget->cursor().shape(); }

    QWidget page_;
    look::PagePointer* pointer_ = nullptr;
    QPushButton *next_ = nullptr, *finish_ = nullptr, *back_ = nullptr, *load_ = nullptr,
                *clear_ = nullptr;
    QLabel* label_ = nullptr;
    QLineEdit *server_ = nullptr, *rowTag_ = nullptr;
    QListWidget* list_ = nullptr;
    QPlainTextEdit* preview_ = nullptr;
    QGroupBox* frame_ = nullptr;
    QCheckBox* header_ = nullptr;
};

TEST_F(PagePointerTest, AButtonSetsTheHandTheBackgroundTheDefaultAndUnboundControlsNeither) {
    ASSERT_EQ(pointer_->setting(), Default);
    moveOver(clear_); // inside the frame
    EXPECT_EQ(pointer_->setting(), Custom);
    moveOver(frame_, QPoint(300, 30)); // the frame's own area
    EXPECT_EQ(pointer_->setting(), Default);

    const std::pair<QWidget*, const char*> resetters[] = {
        {server_, "text box"},
        {rowTag_, "box with its own pointer"},
        {list_->viewport(), "list"},
        {list_->verticalScrollBar(), "list's scroll bar"},
        {preview_->viewport(), "preview"},
        {header_, "check box"},
        {finish_, "disabled button: the move goes through to the page"},
        {back_, "disabled button without a binding"},
    };
    for (const auto& [widget, what] : resetters) {
        moveOver(next_);
        ASSERT_EQ(pointer_->setting(), Custom);
        moveOver(widget);
        EXPECT_EQ(pointer_->setting(), Default) << what;
    }

    // Controls without a binding leave the setting as it is.
    moveOver(next_);
    moveOver(label_);
    EXPECT_EQ(pointer_->setting(), Custom);
    moveOver(load_); // a button in the frame without a binding
    EXPECT_EQ(pointer_->setting(), Custom);

    moveOverBackground();
    moveOver(load_);
    EXPECT_EQ(pointer_->setting(), Default);
}

// Neither movement nor the controls' own pointers replace the wait cursor, except the boxes that
// keep their own.
TEST_F(PagePointerTest, BusyShowsTheWaitCursorEverywhereAndMovementKeepsIt) {
    pointer_->setSetting(Busy);
    QCoreApplication::processEvents(); // as a long operation serves the window system
    EXPECT_EQ(shape(&page_), Qt::WaitCursor);
    EXPECT_EQ(page_.windowHandle()->cursor().shape(), Qt::WaitCursor);
    for (QWidget* widget : std::initializer_list<QWidget*>{
             next_, server_, rowTag_, list_->viewport(), preview_->viewport(), header_, clear_,
             frame_, label_, finish_}) {
        moveOver(widget);
        EXPECT_EQ(pointer_->setting(), Busy) << widget->metaObject()->className();
        if (widget != rowTag_ && widget != frame_ && widget != finish_) {
            EXPECT_EQ(shape(widget), Qt::WaitCursor) << widget->metaObject()->className();
        }
    }
    EXPECT_EQ(shape(rowTag_), Qt::IBeamCursor);
    moveOverBackground();
    EXPECT_EQ(pointer_->setting(), Busy);

    // Back to the controls' own pointers.
    pointer_->setSetting(Default);
    QCoreApplication::processEvents();
    EXPECT_EQ(shape(&page_), Qt::ArrowCursor);
    EXPECT_EQ(shape(next_), Qt::ArrowCursor);
    EXPECT_EQ(shape(server_), Qt::IBeamCursor);
    EXPECT_EQ(shape(preview_->viewport()), Qt::IBeamCursor);
    EXPECT_EQ(shape(list_->viewport()), Qt::ArrowCursor);
    EXPECT_EQ(shape(rowTag_), Qt::IBeamCursor);
    moveOver(next_);
    EXPECT_EQ(pointer_->setting(), Custom);
}

TEST_F(PagePointerTest, TheHandComesFromTheFolderAndCoversAllButTheOwnPointers) {
    QTemporaryDir folder;
    ASSERT_TRUE(QFile::copy(QStringLiteral(TALLOWBY_HAND_CURSOR_FILE),
                            folder.filePath(QStringLiteral("HAND-M.CUR"))));
    pointer_->loadCustomImage(folder.path());

    moveOver(next_);
    ASSERT_EQ(pointer_->setting(), Custom);
    EXPECT_EQ(shape(&page_), Qt::BitmapCursor);
    EXPECT_EQ(page_.cursor().hotSpot(), QPoint(6, 1));
    EXPECT_EQ(shape(next_), Qt::BitmapCursor);
    EXPECT_EQ(shape(rowTag_), Qt::IBeamCursor);

    // Each loading repeats the test: the file gone, the hand goes.
    ASSERT_TRUE(QFile::remove(folder.filePath(QStringLiteral("HAND-M.CUR"))));
    pointer_->loadCustomImage(folder.path());
    EXPECT_EQ(shape(&page_), Qt::ArrowCursor);
}

} // namespace
