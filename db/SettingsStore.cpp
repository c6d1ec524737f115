#include "db/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace db {

namespace {

QString keyOf(SettingKey key) {
    switch (key) {
    case SettingKey::Server:
        return QStringLiteral("Brisklet/MyServer");
    case SettingKey::User:
        return QStringLiteral("Brisklet/MyUser");
    case SettingKey::Password:
        return QStringLiteral("Brisklet/MyPassword");
    case SettingKey::Database:
        return QStringLiteral("Brisklet/MyDatabase");
    }
    return QString();
}

void printToStderr(const QString& message) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

} // namespace

SettingsStore::SettingsStore() : SettingsStore(defaultFilePath()) {}

SettingsStore::SettingsStore(const QString& filePath)
    : path_(filePath), settings_(std::make_unique<QSettings>(filePath, QSettings::IniFormat)),
      reporter_(&printToStderr) {}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::defaultFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1String("/Quorvane.conf");
}

QString SettingsStore::value(SettingKey key) const {
    return settings_->value(keyOf(key)).toString();
}

ConnectionSettings SettingsStore::load() const {
    return {value(SettingKey::Server), value(SettingKey::User), value(SettingKey::Password),
            value(SettingKey::Database)};
}

void SettingsStore::setValue(SettingKey key, const QString& value) {
    // Before QSettings writes: it replaces the file by a new one that keeps the old one's mode,
    // so a file that is 0600 beforehand is never readable by others, not even for a moment.
    const QString failure = makePrivate();
    if (!failure.isEmpty()) {
        reportFailure(failure);
        return;
    }
    settings_->setValue(keyOf(key), value);
    settings_->sync();
    if (settings_->status() != QSettings::NoError) {
        reportFailure(QStringLiteral("the file could not be written"));
    }
}

void SettingsStore::save(const ConnectionSettings& settings) {
    setValue(SettingKey::Server, settings.server);
    setValue(SettingKey::User, settings.user);
    setValue(SettingKey::Password, settings.password);
    setValue(SettingKey::Database, settings.database);
}

void SettingsStore::setFailureReporter(FailureReporter reporter) {
    reporter_ = std::move(reporter);
}

QString SettingsStore::makePrivate() const {
    const QFileInfo info(path_);
    if (!QDir().mkpath(info.absolutePath())) {
        return QStringLiteral("its folder %1 cannot be created").arg(info.absolutePath());
    }
    const QByteArray name = QFile::encodeName(path_);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    QString reason;
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
    }
    ::close(fd);
    return reason;
}

void SettingsStore::reportFailure(const QString& reason) {
    if (reported_) {
        return;
    }
    reported_ = true;
    if (reporter_) {
        reporter_(QStringLiteral("The login values cannot be saved in %1: %2. They are kept "
                                 "until the program ends.")
                      .arg(QDir::toNativeSeparators(path_), reason));
    }
}

} // namespace db
