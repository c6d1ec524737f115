#pragma once

#include <QString>

namespace db {

// Where the Server box points, in SQL Server's own forms: "host", "host,port" or
// "host\instance". The host may be a name, an IPv4 address or an IPv6 address.
struct ServerAddress {
    QString host;
    int port = 0;     // 0: none given (the instance's port, or 1433)
    QString instance; // empty: the default instance

    // One spelling per server: the host in lower case, then ",port" or "\instance".
    QString key() const;

    friend bool operator==(const ServerAddress&, const ServerAddress&) = default;
};

// SQL Server's port when neither a port nor an instance is given.
inline constexpr int kDefaultPort = 1433;

// Reads the Server box. Throws Error, saying what is wrong, for an empty host, a port that is
// not a number from 1 to 65535, or characters that no host or instance name holds (the value
// goes into the driver's configuration, so nothing in it may start a line or a key there).
ServerAddress parseServerAddress(const QString& text);

} // namespace db
