#include "look/Look.h"

#include <QImage>
#include <QPalette>
#include <QProgressBar>
#include <gtest/gtest.h>

namespace {

// What the user sees: the empty part of the bar white, the filled part in the style's colour.
TEST(WhiteBackground, TheEmptyPartIsWhiteAndTheFilledPartKeepsItsColour) {
    QProgressBar bar;
    bar.setTextVisible(false);
    bar.resize(377, 25);
    // A desktop whose windows are grey.
    QPalette grey = bar.palette();
    grey.setColor(QPalette::Base, QColor(200, 200, 200));
    grey.setColor(QPalette::Window, QColor(200, 200, 200));
    bar.setPalette(grey);
    const QColor filled = bar.palette().color(QPalette::Highlight);
    bar.setValue(0);
    const QPoint middle(377 / 2, 25 / 2);
    ASSERT_NE(QColor(bar.grab().toImage().pixel(middle)), QColor(Qt::white));

    look::setWhiteBackground(bar);
    const QImage empty = bar.grab().toImage();
    EXPECT_EQ(QColor(empty.pixel(middle)), QColor(Qt::white));

    bar.setValue(100);
    const QImage full = bar.grab().toImage();
    EXPECT_NE(QColor(full.pixel(middle)), QColor(Qt::white));
    EXPECT_EQ(bar.palette().color(QPalette::Highlight), filled);
}

} // namespace
