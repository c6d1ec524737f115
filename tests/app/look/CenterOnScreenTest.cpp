#include "look/Look.h"

#include <QCoreApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

// Where the page's outer rectangle must start: the screen's corner plus half the room left.
QPoint centred(const QWidget& page) {
    const QRect screen = page.screen()->geometry();
    const QSize outer = page.frameGeometry().size();
    return screen.topLeft() +
           QPoint((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2);
}

bool shownAndSettled(QWidget& page) {
    page.show();
    if (!QTest::qWaitForWindowExposed(&page))
        return false;
    // The re-centring queued by the first show.
    QCoreApplication::processEvents();
    return true;
}

TEST(CenterOnScreen, CentresTheOuterRectangleOnTheWholeScreenShownOrNotYet) {
    QWidget page;
    page.setFixedSize(394, 236); // even differences: the halves are whole pixels
    ASSERT_TRUE(shownAndSettled(page));
    page.move(3, 7);
    QCoreApplication::processEvents();
    Main::CenterOnScreen(page);
    QCoreApplication::processEvents();
    EXPECT_EQ(page.frameGeometry().topLeft(), centred(page));
    EXPECT_GT(page.frameGeometry().left(), 0);

    QWidget later;
    later.setFixedSize(300, 200);
    Main::CenterOnScreen(later);
    Main::CenterOnScreen(later); // each loading centres; one re-centring after the show
    ASSERT_TRUE(shownAndSettled(later));
    EXPECT_EQ(later.frameGeometry().topLeft(), centred(later));
}

TEST(CenterOnScreen, APageLargerThanTheScreenGetsANegativePosition) {
    // A framed page shown first makes the frame known.
    QWidget shown;
    shown.setFixedSize(100, 100);
    ASSERT_TRUE(shownAndSettled(shown));
    Main::CenterOnScreen(shown);
    const QMargins frame = shown.windowHandle()->frameMargins();

    // Not shown: the offscreen platform never lets a client area start left of its frame's
    // width, which real window systems do.
    QWidget page;
    const QRect screen = shown.screen()->geometry();
    page.setFixedSize(screen.width() + 200, screen.height() + 101);
    Main::CenterOnScreen(page);
    const QSize outer = page.size().grownBy(frame);
    const QPoint expected(screen.x() + (screen.width() - outer.width()) / 2,
                          screen.y() + (screen.height() - outer.height() - 1) / 2);
    EXPECT_EQ(page.pos(), expected);
    EXPECT_LT(page.pos().x(), screen.left() - 99);
    EXPECT_LT(page.pos().y(), screen.top() - 49);
}

} // namespace
