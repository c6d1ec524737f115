#include "db/ConnectionString.h"

#include "db/DriverSetup.h"
#include "db/Error.h"
#include "db/ServerAddress.h"

namespace db {

namespace {

QString quoted(const QString& value, const char* what) {
    if (value.contains(QLatin1String("};"))) {
        throw Error(QStringLiteral("The %1 contains \"};\", which the ODBC driver cannot be given.")
                        .arg(QLatin1String(what)));
    }
    if (value.contains(u';') || value.startsWith(u'{')) {
        return QLatin1Char('{') + value + QLatin1Char('}');
    }
    return value;
}

} // namespace

QString connectionString(const ConnectionSettings& settings, ConnectionStringForm form) {
    const QString server = driverSection(parseServerAddress(settings.server), settings.encryption);
    const QString encryption = settings.encryption == Encryption::Required
                                   ? QStringLiteral("require")
                                   : QStringLiteral("request");
    const QString database = quoted(settings.database, "database name");
    const QString user = quoted(settings.user, "user name");
    const QString password = quoted(settings.password, "password");
    if (form == ConnectionStringForm::MixedCase) {
        return QLatin1String("Driver={SQL Server};Servername=") + server +
               QLatin1String(";Encryption=") + encryption + QLatin1String(";Database=") + database +
               QLatin1String(";Uid=") + user + QLatin1String(";Pwd=") + password + QLatin1Char(';');
    }
    return QLatin1String("DRIVER={SQL Server};") + QLatin1String("SERVERNAME=") + server +
           QLatin1Char(';') + QLatin1String("ENCRYPTION=") + encryption + QLatin1Char(';') +
           QLatin1String("DATABASE=") + database + QLatin1Char(';') + QLatin1String("UID=") + user +
           QLatin1Char(';') + QLatin1String("PWD=") + password + QLatin1Char(';');
}

} // namespace db
