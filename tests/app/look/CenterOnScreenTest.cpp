#include "look/Look.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

// Centred: the room left of the outer rectangle is the room right of it, and likewise above and
// below, to a pixel.
void expectCentred(const QWidget& page) {
    const QRect screen = page.screen()->geometry();
    const QRect outer = page.frameGeometry();
    EXPECT_LE(std::abs((outer.left() - screen.left()) - (screen.right() - outer.right())), 1);
    EXPECT_LE(std::abs((outer.top() - screen.top()) - (screen.bottom() - outer.bottom())), 1);
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
    expectCentred(page);

    QWidget later;
    later.setFixedSize(300, 200);
    Main::CenterOnScreen(later);
    Main::CenterOnScreen(later); // each loading centres; one re-centring after the show
    ASSERT_TRUE(shownAndSettled(later));
    expectCentred(later);
}

// Not shown: the offscreen platform never lets a client area start left of its frame's width,
// which real window systems do. The page is not kept on the screen.
TEST(CenterOnScreen, APageLargerThanTheScreenGetsANegativePosition) {
    QWidget page;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    page.setFixedSize(screen.width() + 200, screen.height() + 101);
    Main::CenterOnScreen(page);
    EXPECT_LT(page.pos().x(), screen.left() - 99);
    EXPECT_LT(page.pos().y(), screen.top() - 49);
}

} // namespace
