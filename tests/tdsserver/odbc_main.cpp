// The ODBC tests reach FreeTDS through the project's own odbcinst.ini, never the system's.
// The environment is set here rather than through CTest: gtest_discover_tests keeps only the
// first entry of a list-valued ENVIRONMENT, and without TDSVER FreeTDS's automatic protocol
// choice can wait forever on a server that does not answer.

#include <cstdlib>
#include <gmock/gmock.h>

int main(int argc, char** argv) {
    // A caller's own setting wins, so the suite can be pointed at another driver set-up.
    setenv("ODBCSYSINI", TALLOWBY_ODBCSYSINI, 0);
    setenv("TDSVER", "7.4", 0);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
