#include "look/Look.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

// Centring itself is checked under a real window manager, frames and all, by
// centred-under-openbox. Not shown: the offscreen platform never lets a client area start left of
// its frame's width, which real window systems do. The page is not kept on the screen.
TEST(CenterOnScreen, APageLargerThanTheScreenGetsANegativePosition) {
    QWidget page;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    page.setFixedSize(screen.width() + 200, screen.height() + 101);
    Main::CenterOnScreen(page);
    EXPECT_LT(page.pos().x(), screen.left() - 99);
    EXPECT_LT(page.pos().y(), screen.top() - 49);
}

} // namespace
