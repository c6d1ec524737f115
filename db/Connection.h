#pragma once

#include "db/ResultSet.h"

#include <QString>
#include <chrono>
#include <memory>

namespace db {

namespace detail {
struct ConnectionHandles;
}

// SQL Server's own client waits this long for a login before giving up.
inline constexpr std::chrono::seconds kDefaultLoginTimeout{15};
// How long any statement may wait for the server to send something before it fails. The driver
// applies it to each wait, so a long healthy read never trips it; a dead server is reported
// after about twice this (the driver's cancel waits once more).
inline constexpr std::chrono::seconds kDefaultQueryTimeout{30};

// One open connection to the server. Each operation opens its own and lets it go when it ends;
// the connection closes when the Connection and every ResultSet made on it are gone.
class Connection {
public:
    // Opens a connection with `connectionString` (see ConnectionString.h), waiting at most
    // `loginTimeout` for the server to log us in. Throws OdbcError with the driver's diagnostics.
    static Connection open(const QString& connectionString,
                           std::chrono::seconds loginTimeout = kDefaultLoginTimeout,
                           std::chrono::seconds queryTimeout = kDefaultQueryTimeout);

    ~Connection();
    Connection(Connection&&) noexcept;
    Connection& operator=(Connection&&) noexcept;

    // The server's catalogue of tables, views and system tables, unrestricted, in the order the
    // server delivers it. Columns as ODBC defines them: TABLE_CAT, TABLE_SCHEM, TABLE_NAME,
    // TABLE_TYPE, REMARKS.
    ResultSet tables();

    // Runs `sql` and returns its first result set, positioned before the first row.
    ResultSet query(const QString& sql, ReadMode mode = ReadMode::RowByRow);

private:
    explicit Connection(std::shared_ptr<detail::ConnectionHandles> handles);

    std::shared_ptr<detail::ConnectionHandles> handles_;
};

} // namespace db
