# FreeTDS's ODBC driver under the name "SQL Server", the driver name Tallowby asks for.
# Sourced (POSIX sh) by scripts/install-driver and by the Debian package's maintainer scripts,
# which install it as /usr/lib/tallowby/odbc-driver.sh. Everything goes through odbcinst, so
# ODBCSYSINI chooses the odbcinst.ini that is read and changed.

TALLOWBY_DRIVER_NAME="SQL Server"

# Prints the path of FreeTDS's libtdsodbc.so; fails when there is none.
tallowby_find_tdsodbc() {
    for tallowby_candidate in /usr/lib/*/odbc/libtdsodbc.so /usr/lib/odbc/libtdsodbc.so \
        /usr/local/lib/libtdsodbc.so /usr/lib64/libtdsodbc.so; do
        if [ -e "$tallowby_candidate" ]; then
            printf '%s\n' "$tallowby_candidate"
            return 0
        fi
    done
    return 1
}

# Succeeds when a driver named "SQL Server" is registered, whatever it is.
tallowby_driver_registered() {
    odbcinst -q -d -n "$TALLOWBY_DRIVER_NAME" >/dev/null 2>&1
}

# Prints the Driver value of the registered "SQL Server" (nothing when there is none).
tallowby_registered_driver_path() {
    odbcinst -q -d -n "$TALLOWBY_DRIVER_NAME" 2>/dev/null |
        sed -n 's/^Driver[[:space:]]*=[[:space:]]*//p' | head -n 1
}

# Registers the library $1 as "SQL Server".
tallowby_register_driver() {
    tallowby_template=$(mktemp) || return 1
    printf '[%s]\nDescription = FreeTDS ODBC driver\nDriver = %s\n' \
        "$TALLOWBY_DRIVER_NAME" "$1" >"$tallowby_template"
    tallowby_status=0
    odbcinst -i -d -f "$tallowby_template" >/dev/null || tallowby_status=$?
    rm -f "$tallowby_template"
    return "$tallowby_status"
}

# For the package's installation: registers the driver when no driver of that name exists, and
# then records the library it registered in $1/driver-registered, so that removal can undo
# exactly that and nothing the administrator set up.
tallowby_package_register() {
    tallowby_driver_registered && return 0
    tallowby_lib=$(tallowby_find_tdsodbc) || {
        echo "tallowby: libtdsodbc.so not found; no driver \"$TALLOWBY_DRIVER_NAME\" registered" >&2
        return 1
    }
    tallowby_register_driver "$tallowby_lib" || return 1
    mkdir -p "$1" && printf '%s\n' "$tallowby_lib" >"$1/driver-registered"
}

# For the package's removal: drops the registration that tallowby_package_register made, when
# it is still there as it was made. A "SQL Server" that someone changed or put in its place
# since is left alone. odbcinst -u only lowers the usage count when others installed it too.
tallowby_package_unregister() {
    [ -f "$1/driver-registered" ] || return 0
    tallowby_lib=$(cat "$1/driver-registered")
    if [ -n "$tallowby_lib" ] && [ "$(tallowby_registered_driver_path)" = "$tallowby_lib" ]; then
        odbcinst -u -d -n "$TALLOWBY_DRIVER_NAME" >/dev/null || return 1
    fi
    rm -f "$1/driver-registered"
    rmdir "$1" 2>/dev/null || true
}
