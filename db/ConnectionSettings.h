#pragma once

#include <QString>

namespace db {

// The four login values, exactly as the user typed them: any length, empty allowed, never
// trimmed or checked.
struct ConnectionSettings {
    QString server;
    QString user;
    QString password;
    QString database;

    friend bool operator==(const ConnectionSettings&, const ConnectionSettings&) = default;
};

} // namespace db
