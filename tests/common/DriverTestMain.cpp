#include "db/DriverSetup.h"

#include <QtGlobal>
#include <cstdlib>
#include <gmock/gmock.h>

// The environment the driver reads is set before any test (or any thread of one) starts, as
// the programs' own main functions set it.
int main(int argc, char** argv) {
    testing::InitGoogleMock(&argc, argv);
    // Certificates trusted by a test, and the driver's configuration, stay in the build.
    if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"))
        setenv("XDG_CONFIG_HOME", TALLOWBY_TEST_CONFIG_HOME, 1);
    db::prepareDriverEnvironment();
    return RUN_ALL_TESTS();
}
