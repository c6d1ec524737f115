#pragma once

#include "db/Connection.h"
#include "db/ConnectionSettings.h"
#include "db/ConnectionString.h"
#include "db/ServerCertificate.h"

#include <QString>
#include <chrono>
#include <optional>

namespace db {

// What one login attempt came to.
struct LoginAttempt {
    bool ok = false;
    QString diagnostic; // why it failed, in the driver's words; empty on success
    // Set when the login was not sent because the server could not be trusted with it.
    std::optional<CertificateCheck> certificate;
};

// Opens a connection with `settings` in the given form of the connection string and lets it go
// at once. Never throws: every failure, the driver's and a value that cannot be passed, comes
// back as ok == false with its message.
LoginAttempt tryLogin(const ConnectionSettings& settings, ConnectionStringForm form,
                      std::chrono::seconds loginTimeout = kDefaultLoginTimeout);

// The connection test's two messages.
inline constexpr char16_t kConnectionSuccessful[] = u"Connection successful.";
inline constexpr char16_t kCouldNotConnect[] =
    u"Could not connect. Please check with your administrator.";

// The connection test behind the "Test Connection" button: a login with the upper-case
// connection string, told as one of the two messages above. The driver's diagnostic is kept
// beside for whoever wants to show more (the command line's --verbose).
struct ConnectionTestResult {
    bool ok = false;
    QString message;
    QString diagnostic;
    std::optional<CertificateCheck> certificate;
};
ConnectionTestResult testConnection(const ConnectionSettings& settings,
                                    std::chrono::seconds loginTimeout = kDefaultLoginTimeout);

// Where the help message sends a user whose login fails: the download page of the tool it names.
inline constexpr char16_t kHelpDownloadAddress[] =
    u"https://www.sqlmanager.net/products/mssql/manager/download";

// The text of the help message. Its line breaks are single carriage returns.
QString helpMessage();

} // namespace db

namespace MSSQL {

// The silent probe of the start-up and of "Next >": can `settings` log in, with the mixed-case
// connection string? Shows nothing, writes nothing, never throws.
bool CanConnect(const db::ConnectionSettings& settings,
                std::chrono::seconds loginTimeout = db::kDefaultLoginTimeout);

} // namespace MSSQL
