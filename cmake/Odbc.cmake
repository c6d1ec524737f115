# A project-local ODBC set-up, so that tests, benchmarks and the demo reach FreeTDS under the
# driver name "SQL Server" without touching the system's odbcinst.ini.
set(TALLOWBY_ODBC_DRIVER_DIRS /usr/lib/x86_64-linux-gnu/odbc /usr/lib/aarch64-linux-gnu/odbc
    /usr/lib/odbc /usr/local/lib/odbc /usr/lib64 /usr/lib)
find_library(TALLOWBY_TDSODBC_LIBRARY NAMES tdsodbc PATHS ${TALLOWBY_ODBC_DRIVER_DIRS}
    NO_DEFAULT_PATH)
if(NOT TALLOWBY_TDSODBC_LIBRARY)
    message(WARNING "FreeTDS ODBC driver (libtdsodbc.so) not found: database tests will fail. "
                    "Run scripts/deps.")
    set(TALLOWBY_TDSODBC_LIBRARY /usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so)
endif()

# SQLite's ODBC driver, for the tests of what a driver other than FreeTDS may send.
find_library(TALLOWBY_SQLITEODBC_LIBRARY NAMES sqlite3odbc PATHS ${TALLOWBY_ODBC_DRIVER_DIRS}
    NO_DEFAULT_PATH)
set(TALLOWBY_OTHER_DRIVERS "")
if(TALLOWBY_SQLITEODBC_LIBRARY)
    set(TALLOWBY_OTHER_DRIVERS "\n[SQLite3]\nDescription = SQLite ODBC driver (tests only)\nDriver = ${TALLOWBY_SQLITEODBC_LIBRARY}\n")
endif()

set(TALLOWBY_ODBCSYSINI ${CMAKE_BINARY_DIR}/odbc)
configure_file(${CMAKE_CURRENT_LIST_DIR}/odbcinst.ini.in ${TALLOWBY_ODBCSYSINI}/odbcinst.ini @ONLY)
file(TOUCH ${TALLOWBY_ODBCSYSINI}/odbc.ini)

# Environment for every test that goes through the driver. TDSVER pins the protocol: FreeTDS's
# "auto" falls back to TDS 5.0 and can wait forever on a server that never answers.
# No keyring answers in the tests (no D-Bus session at this address), so the login is kept in
# the settings file; the keyring's own tests run in a D-Bus session of their own.
set(TALLOWBY_ODBC_TEST_ENV "ODBCSYSINI=${TALLOWBY_ODBCSYSINI}" "TDSVER=7.4"
    "XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-config"
    "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/tallowby-tests")
