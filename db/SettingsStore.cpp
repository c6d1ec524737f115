#include "db/SettingsStore.h"

#include "db/Keyring.h"

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
#include <utility>

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

// In the file while the password is in the keyring, so that a session that cannot reach the
// keyring can tell the user where the password is.
const QString kInKeyring = QStringLiteral("Tallowby/PasswordInKeyring");

void printToStderr(const QString& message) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

} // namespace

SettingsStore::SettingsStore() : SettingsStore(defaultFilePath()) {}

SettingsStore::SettingsStore(const QString& filePath)
    : path_(filePath), settings_(std::make_unique<QSettings>(filePath, QSettings::IniFormat)),
      keyring_(std::make_unique<Keyring>(QStringLiteral("MyPassword@") +
                                         QFileInfo(filePath).absoluteFilePath())),
      reporter_(&printToStderr) {}

SettingsStore::~SettingsStore() {
    finishWrites();
}

void SettingsStore::finishWrites() {
    keyring_->finishWrites();
}

QString SettingsStore::defaultFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1String("/Quorvane.conf");
}

QString SettingsStore::value(SettingKey key) {
    if (key == SettingKey::Password) {
        findPasswordPlace();
        if (place_ == PasswordPlace::Keyring) {
            return password_;
        }
    }
    return settings_->value(keyOf(key)).toString();
}

QString SettingsStore::passwordUnreachable() {
    findPasswordPlace();
    return unreachable_;
}

void SettingsStore::findPasswordPlace() {
    if (place_ != PasswordPlace::Unknown) {
        return;
    }
    place_ = PasswordPlace::File;
    const Keyring::Answer answer = keyring_->read();
    const QString key = keyOf(SettingKey::Password);
    switch (answer.outcome) {
    case Keyring::Outcome::Unreachable:
        if (settings_->value(kInKeyring).toBool() && !settings_->contains(key)) {
            unreachable_ = answer.reason;
        }
        return;
    case Keyring::Outcome::Refused:
        // Never the file instead: the user's keyring said no, and the password stays unknown.
        place_ = PasswordPlace::Keyring;
        reportKeyringFailure(answer.reason);
        return;
    case Keyring::Outcome::Found:
    case Keyring::Outcome::Missing:
        place_ = PasswordPlace::Keyring;
        password_ = answer.value;
        if (settings_->contains(key)) {
            movePasswordFromFile(settings_->value(key).toString());
        }
        return;
    }
}

// The keyring first, then the file: a failure of either leaves the file as it was, and the
// password where it was.
void SettingsStore::movePasswordFromFile(const QString& password) {
    const QString failure = keyring_->write(password);
    if (!failure.isEmpty()) {
        place_ = PasswordPlace::File;
        reportKeyringFailure(failure, true);
        return;
    }
    if (!writeFile(kInKeyring, QStringLiteral("true")) ||
        !removeFromFile(keyOf(SettingKey::Password))) {
        place_ = PasswordPlace::File;
        settings_->remove(kInKeyring);
        keyring_->remove();
        return;
    }
    password_ = password;
}

ConnectionSettings SettingsStore::load() {
    return {value(SettingKey::Server), value(SettingKey::User), value(SettingKey::Password),
            value(SettingKey::Database)};
}

void SettingsStore::setValue(SettingKey key, const QString& value) {
    if (key == SettingKey::Password) {
        findPasswordPlace();
        if (place_ == PasswordPlace::Keyring) {
            password_ = value;
            keyring_->writeLater(value, [this](const QString& failure) {
                if (!failure.isEmpty()) {
                    reportKeyringFailure(failure);
                }
            });
            if (!settings_->value(kInKeyring).toBool()) {
                writeFile(kInKeyring, QStringLiteral("true"));
            }
            return;
        }
    }
    writeFile(keyOf(key), value);
}

bool SettingsStore::writeFile(const QString& key, const QString& value) {
    return changeFile([&] { settings_->setValue(key, value); });
}

bool SettingsStore::removeFromFile(const QString& key) {
    return changeFile([&] { settings_->remove(key); });
}

bool SettingsStore::changeFile(const std::function<void()>& change) {
    // Before QSettings writes: it replaces the file by a new one that keeps the old one's mode,
    // so a file that is 0600 beforehand is never readable by others, not even for a moment.
    const QString failure = makePrivate();
    if (!failure.isEmpty()) {
        reportFailure(failure);
        return false;
    }
    change();
    settings_->sync();
    if (settings_->status() != QSettings::NoError) {
        reportFailure(QStringLiteral("the file could not be written"));
        return false;
    }
    return true;
}

void SettingsStore::save(const ConnectionSettings& settings) {
    setValue(SettingKey::Server, settings.server);
    setValue(SettingKey::User, settings.user);
    setValue(SettingKey::Password, settings.password);
    setValue(SettingKey::Database, settings.database);
}

void SettingsStore::setFailureReporter(FailureReporter reporter) {
    reporter_ = reporter ? std::move(reporter) : FailureReporter(&printToStderr);
}

QString SettingsStore::makePrivate() const {
    if (settings_->status() == QSettings::FormatError) {
        return QStringLiteral("it is not a settings file (its contents cannot be read as one), so "
                              "it was left as it is");
    }
    const QFileInfo info(path_);
    if (!QDir().mkpath(info.absolutePath())) {
        return QStringLiteral("its folder %1 cannot be created").arg(info.absolutePath());
    }
    // Never through a link, and never into a file that another user owns or that is no plain
    // file: whatever stands at the path is left as it is.
    const QByteArray name = QFile::encodeName(path_);
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
               S_IRUSR | S_IWUSR);
    if (fd < 0) {
        if (errno == ELOOP) {
            return QStringLiteral("it is a symbolic link, which is never written through");
        }
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    QString reason;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
    } else if (!S_ISREG(st.st_mode)) {
        reason = QStringLiteral("it is not a regular file");
    } else if (st.st_uid != ::geteuid()) {
        reason = QStringLiteral("it belongs to another user");
    } else if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
    }
    ::close(fd);
    return reason;
}

void SettingsStore::reportKeyringFailure(const QString& reason, bool moving) {
    if (std::exchange(keyringReported_, true)) {
        return;
    }
    const QString file = QDir::toNativeSeparators(path_);
    reporter_(moving ? QStringLiteral("The password could not be moved from %1 into the desktop's "
                                      "keyring: %2. It stays in %1.")
                           .arg(file, reason)
                     : QStringLiteral("The password cannot be kept in the desktop's keyring: %1. "
                                      "It is kept until the program ends, and not written to %2.")
                           .arg(reason, file));
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
