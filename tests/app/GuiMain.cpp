#include "db/DriverSetup.h"

#include <QApplication>
#include <gtest/gtest.h>

// The pages need an application object; CTest runs them on the offscreen platform.
int main(int argc, char* argv[]) {
    testing::InitGoogleTest(&argc, argv);
    db::prepareDriverEnvironment();
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
