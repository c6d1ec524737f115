#include "db/DriverSetup.h"

#include "db/Error.h"
#include "db/PrivateFile.h"
#include "db/SettingsStore.h"
#include "db/TdsVersion.h"
#include "db/TrustedCertificates.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <signal.h>
#include <unistd.h>

namespace db {

namespace {

std::mutex sectionsMutex;
std::map<QString, QByteArray>& sections() {
    static std::map<QString, QByteArray> all;
    return all;
}

QString& configurationPath() {
    static QString path;
    return path;
}

QString privateFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir())
        return runtime + QStringLiteral("/tallowby");
    return QFileInfo(SettingsStore::defaultFilePath()).absolutePath() +
           QStringLiteral("/Quorvane-driver");
}

// Files left by processes of ours that ended without removing theirs.
void removeOrphans(const QString& folder) {
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("freetds-*.conf")}, QDir::Files);
    for (const QString& name : names) {
        bool ok = false;
        const int pid = name.mid(8, name.size() - 13).toInt(&ok);
        if (ok && pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH)
            QFile::remove(folder + u'/' + name);
    }
}

void writeConfiguration() {
    QByteArray text = "# Written by Tallowby for this run only; it is replaced as it runs.\n";
    for (const auto& [name, section] : sections())
        text += section;
    writePrivateFile(configurationPath(), text);
}

} // namespace

void prepareDriverEnvironment() {
    pinTdsVersion();
    if (!configurationPath().isEmpty())
        return;
    const QString folder = privateFolder();
    makePrivateFolder(folder);
    removeOrphans(folder);
    configurationPath() =
        folder + QStringLiteral("/freetds-%1.conf").arg(QString::number(::getpid()));
    writeConfiguration();
    std::atexit(&removeDriverConfiguration);
    ::setenv("FREETDSCONF", QFile::encodeName(configurationPath()).constData(), 1);
}

void removeDriverConfiguration() {
    const QString& path = configurationPath();
    if (!path.isEmpty())
        ::unlink(QFile::encodeName(path).constData());
}

QString driverConfigurationPath() {
    return configurationPath();
}

QString driverSection(const ServerAddress& server, Encryption encryption) {
    const QString key = server.key();
    const QString name =
        QStringLiteral("tallowby-") +
        QString::fromLatin1(
            QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(16)) +
        (encryption == Encryption::Required ? QString() : QStringLiteral("-clear"));

    // A trusted certificate is the only one accepted: its file is the one authority, and the
    // host name is not asked (the certificate itself is what the user looked at).
    const std::optional<PinnedCertificate> pinned = TrustedCertificates().find(server);
    QByteArray section = '[' + name.toLatin1() + "]\n";
    section += "\thost = " + server.host.toUtf8() + '\n';
    if (server.port != 0)
        section += "\tport = " + QByteArray::number(server.port) + '\n';
    else if (!server.instance.isEmpty())
        section += "\tinstance = " + server.instance.toUtf8() + '\n';
    section += encryption == Encryption::Required ? "\tencryption = require\n"
                                                  : "\tencryption = request\n";
    if (pinned) {
        if (pinned->path.contains(u'\n') || pinned->path.contains(u'\r'))
            throw Error(QStringLiteral("The folder of trusted certificates has a line break in "
                                       "its path, which the driver cannot be given."));
        section += "\tca file = " + QFile::encodeName(pinned->path) + '\n';
        section += "\tcheck certificate hostname = no\n";
    } else {
        section += "\tca file = system\n";
        section += "\tcheck certificate hostname = yes\n";
    }

    const std::lock_guard lock(sectionsMutex);
    if (configurationPath().isEmpty())
        throw Error(QStringLiteral("The database driver's environment was not prepared."));
    QByteArray& current = sections()[name];
    if (current != section) {
        current = section;
        writeConfiguration();
    }
    return name;
}

} // namespace db
