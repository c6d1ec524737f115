#include "db/ConnectionString.h"

#include "db/Error.h"

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
    const QString server = quoted(settings.server, "server name");
    const QString database = quoted(settings.database, "database name");
    const QString user = quoted(settings.user, "user name");
    const QString password = quoted(settings.password, "password");
    if (form == ConnectionStringForm::MixedCase) {
        return QLatin1String("Driver={SQL Server};Server=") + server + QLatin1String(";Database=") +
               database + QLatin1String(";Uid=") + user + QLatin1String(";Pwd=") + password +
               QLatin1Char(';');
    }
    return QLatin1String("DRIVER={SQL Server};") + QLatin1String("SERVER=") + server +
           QLatin1Char(';') + QLatin1String("DATABASE=") + database + QLatin1Char(';') +
           QLatin1String("UID=") + user + QLatin1Char(';') + QLatin1String("PWD=") + password +
           QLatin1Char(';');
}

} // namespace db
