#pragma once

#include "db/ConnectionSettings.h"

#include <QString>
#include <functional>
#include <memory>

class QSettings;

namespace db {

enum class SettingKey { Server, User, Password, Database };

// The four login values in the per-user settings store: application "Quorvane", section
// "Brisklet", keys "MyServer", "MyUser", "MyPassword", "MyDatabase". On Linux that is the file
// Quorvane.conf in the user's XDG configuration folder (~/.config unless XDG_CONFIG_HOME says
// otherwise).
//
// Every write reaches the file before setValue returns, so ending the program at any moment loses
// nothing. The password is kept as plain text, so the file is made readable by its owner only
// (mode 0600) before anything is written to it. A store that cannot be written is reported once
// (on standard error unless another reporter is set) and otherwise ignored: the program goes on
// with the values in memory.
class SettingsStore {
public:
    using FailureReporter = std::function<void(const QString& message)>;

    // The user's own store.
    SettingsStore();
    // A store kept in `filePath`, for tests and for anyone who wants the values elsewhere.
    explicit SettingsStore(const QString& filePath);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    static QString defaultFilePath();
    QString filePath() const { return path_; }

    // A key that was never written reads as the empty string.
    QString value(SettingKey key) const;
    ConnectionSettings load() const;

    void setValue(SettingKey key, const QString& value);
    void save(const ConnectionSettings& settings);

    void setFailureReporter(FailureReporter reporter);

private:
    // Creates the file owner-only, or narrows an existing one; the reason on failure.
    QString makePrivate() const;
    void reportFailure(const QString& reason);

    QString path_;
    std::unique_ptr<QSettings> settings_;
    FailureReporter reporter_;
    bool reported_ = false;
};

} // namespace db
