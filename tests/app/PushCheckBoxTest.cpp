#include "app/PushCheckBox.h"

#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

struct Counted {
    Counted() : button(QStringLiteral("Next >"), &page) {
        QObject::connect(&button, &app::PushCheckBox::activated, [this] {
            ++actions;
            valueDuringAction = button.value();
        });
    }
    QWidget page;
    app::PushCheckBox button;
    int actions = 0;
    int valueDuringAction = -1;
};

TEST(PushCheckBox, APressOrAValueSetFromCodeRunsTheActionOnceAndSpringsBack) {
    Counted c;
    QTest::mouseClick(&c.button, Qt::LeftButton);
    EXPECT_EQ(c.actions, 1);
    EXPECT_EQ(c.valueDuringAction, 0); // back up before the action runs
    EXPECT_EQ(c.button.value(), 0);
    QTest::mouseClick(&c.button, Qt::LeftButton);
    EXPECT_EQ(c.actions, 2);
    c.button.setChecked(true);
    EXPECT_EQ(c.actions, 3);
    EXPECT_EQ(c.button.value(), 0);
    c.button.setChecked(false); // already up: nothing
    EXPECT_EQ(c.actions, 3);
    EXPECT_FALSE(c.button.isChecked());
}

} // namespace
