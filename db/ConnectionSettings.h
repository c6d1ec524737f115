#pragma once

#include "db/DriverSetup.h"

#include <QString>

namespace db {

// The four login values, exactly as the user typed them: any length, empty allowed, never
// trimmed or checked.
struct ConnectionSettings {
    QString server;
    QString user;
    QString password;
    QString database;
    // Not one of the values the user types or the store keeps: a choice for one run.
    Encryption encryption = Encryption::Required;

    friend bool operator==(const ConnectionSettings&, const ConnectionSettings&) = default;
};

} // namespace db
