#pragma once

#include "db/ConnectionSettings.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QSettings;

namespace db {

class Keyring;

enum class SettingKey { Server, User, Password, Database };

// The four login values in the per-user settings store: application "Quorvane", section
// "Brisklet", keys "MyServer", "MyUser", "MyPassword", "MyDatabase". On Linux that is the file
// Quorvane.conf in the user's XDG configuration folder (~/.config unless XDG_CONFIG_HOME says
// otherwise).
//
// The password lives in the desktop's keyring whenever one answers (see Keyring; its entry is
// named after the file, so that each store keeps its own), and the file then holds only a note
// that it is there. A file written before, holding "MyPassword", has its password moved into the
// keyring and out of the file. Where no keyring answers, the file keeps the password as plain
// text, as it keeps the other three.
//
// Every write of the file reaches the disk before setValue returns, so ending the program at any
// moment loses nothing; a password for the keyring is written in the background, and the store
// waits for those writes as it goes. The file is made readable by its owner only (mode 0600)
// before anything is written to it, and is never written through a symbolic link, nor when it is
// not a regular file of the user's own or not a settings file at all. A store that cannot be
// written is reported once (on standard error unless another reporter is set) and otherwise
// ignored: the program goes on with the values in memory.
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
    QString value(SettingKey key);
    ConnectionSettings load();

    void setValue(SettingKey key, const QString& value);
    void save(const ConnectionSettings& settings);

    // An empty reporter stands for standard error.
    void setFailureReporter(FailureReporter reporter);

    // Waits, a bounded time, for the keyring's writes still under way (the store's destruction
    // does the same): for a process that ends without destroying it.
    void finishWrites();

    // Why the stored password could not be read although the file says that the keyring holds
    // it (the keyring does not answer here: an SSH session without the desktop's D-Bus, say);
    // empty otherwise.
    QString passwordUnreachable();

private:
    enum class PasswordPlace { Unknown, File, Keyring };

    // Creates the file owner-only, or narrows an existing one; the reason on failure.
    QString makePrivate() const;
    // Writes `key` to the file; false (reported) when it could not.
    bool writeFile(const QString& key, const QString& value);
    bool removeFromFile(const QString& key);
    // Runs `change` on the settings and writes the file, once it is sure to be the user's own.
    bool changeFile(const std::function<void()>& change);
    // Asks the keyring once, and moves a password from an older file into it.
    void findPasswordPlace();
    void movePasswordFromFile(const QString& password);
    void reportFailure(const QString& reason);
    // Told once; `moving` while a password is moved out of the file, which then keeps it.
    void reportKeyringFailure(const QString& reason, bool moving = false);

    QString path_;
    std::unique_ptr<QSettings> settings_;
    std::unique_ptr<Keyring> keyring_;
    FailureReporter reporter_;
    bool reported_ = false;
    bool keyringReported_ = false;
    PasswordPlace place_ = PasswordPlace::Unknown;
    QString password_; // while in the keyring: the latest value
    QString unreachable_;
};

} // namespace db
