#include "db/Probe.h"

#include "db/Error.h"
#include "db/Login.h"

#include <exception>

namespace db {

LoginAttempt tryLogin(const ConnectionSettings& settings, ConnectionStringForm form,
                      std::chrono::seconds loginTimeout) {
    try {
        logIn(settings, form, loginTimeout);
        return {true, QString(), std::nullopt};
    } catch (const CertificateError& e) {
        return {false, e.message(), e.check()};
    } catch (const std::exception& e) {
        return {false, QString::fromUtf8(e.what()), std::nullopt};
    }
}

ConnectionTestResult testConnection(const ConnectionSettings& settings,
                                    std::chrono::seconds loginTimeout) {
    const LoginAttempt attempt = tryLogin(settings, ConnectionStringForm::UpperCase, loginTimeout);
    return {attempt.ok, QString::fromUtf16(attempt.ok ? kConnectionSuccessful : kCouldNotConnect),
            attempt.diagnostic, attempt.certificate};
}

QString helpMessage() {
    const QString breaks = QStringLiteral("\r\r");
    return QStringLiteral("If you cannot establish connection to your MS SQL Server database "
                          "with this program, please go to: ") +
           breaks + QString::fromUtf16(kHelpDownloadAddress) + breaks +
           QStringLiteral("Download and install the EMS SQL Manager 2005 Lite for SQL Server. "
                          "Try to connect to ") +
           QStringLiteral("the same database (with the same login information you are using "
                          "here). This will determine if ") +
           QStringLiteral("the login you are using is correct.") + breaks +
           QStringLiteral("If you are using Microsoft SQL Server Express Edition and connecting "
                          "locally, you may need to use") +
           breaks + QStringLiteral("localhost\\SQLEXPRESS") + breaks +
           QStringLiteral("for example, for Server.");
}

} // namespace db

namespace MSSQL {

bool CanConnect(const db::ConnectionSettings& settings, std::chrono::seconds loginTimeout) {
    return db::tryLogin(settings, db::ConnectionStringForm::MixedCase, loginTimeout).ok;
}

} // namespace MSSQL
