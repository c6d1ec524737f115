#include "db/ServerAddress.h"

#include "db/Error.h"

namespace db {

namespace {

bool isHostCharacter(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'.' || c == u'-' || c == u'_' || c == u':';
}

bool isInstanceCharacter(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'_' || c == u'$' || c == u'#' || c == u'-';
}

[[noreturn]] void refuse(const QString& text, const QString& why) {
    throw Error(QStringLiteral("The server \"%1\" cannot be used: %2. Give a host name or address, "
                               "optionally followed by \",port\" or \"\\instance\".")
                    .arg(text, why));
}

} // namespace

QString ServerAddress::key() const {
    QString k = host.toLower();
    if (port != 0)
        k += u',' + QString::number(port);
    else if (!instance.isEmpty())
        k += u'\\' + instance.toLower();
    return k;
}

ServerAddress parseServerAddress(const QString& text) {
    ServerAddress address;
    QString host = text;
    const qsizetype comma = text.lastIndexOf(u',');
    const qsizetype backslash = text.indexOf(u'\\');
    if (comma >= 0) {
        const QString port = text.mid(comma + 1);
        bool ok = !port.isEmpty();
        for (QChar c : port)
            ok = ok && c >= u'0' && c <= u'9';
        const int number = ok && port.size() <= 5 ? port.toInt() : 0;
        if (number < 1 || number > 65535)
            refuse(text,
                   QStringLiteral("the port \"%1\" is not a number from 1 to 65535").arg(port));
        address.port = number;
        host = text.left(comma);
    }
    if (backslash >= 0 && (comma < 0 || backslash < comma)) {
        address.instance = host.mid(backslash + 1);
        host = host.left(backslash);
        if (address.instance.isEmpty())
            refuse(text, QStringLiteral("no instance name follows \"\\\""));
        for (QChar c : address.instance) {
            if (!isInstanceCharacter(c))
                refuse(text, QStringLiteral("an instance name holds no \"%1\"").arg(c));
        }
        if (address.port != 0)
            address.instance.clear(); // the port given wins, as it does for SQL Server's clients
    }
    if (host.isEmpty())
        refuse(text, QStringLiteral("no host is given"));
    for (QChar c : host) {
        if (!isHostCharacter(c))
            refuse(text, QStringLiteral("a host name holds no \"%1\"").arg(c));
    }
    address.host = host;
    return address;
}

} // namespace db
