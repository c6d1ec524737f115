#pragma once

#include <QString>
#include <chrono>
#include <functional>
#include <memory>

class QObject;

namespace db {

// One secret in the desktop's keyring (the Secret Service, or KWallet), through QtKeychain: the
// entry `key` of the service "Tallowby". QtKeychain's jobs answer through the event loop, so a
// keyring needs a running QCoreApplication; without one it counts as unreachable. Nothing is
// ever written anywhere else: QtKeychain's "insecure fallback" (a plain settings file) stays off.
class Keyring {
public:
    enum class Outcome {
        Found,       // the entry is there
        Missing,     // the keyring answered, and holds no such entry
        Unreachable, // no keyring answers (no D-Bus session, no Secret Service)
        Refused,     // the keyring answered with a failure (locked, access denied, ...)
    };
    struct Answer {
        Outcome outcome = Outcome::Unreachable;
        QString value;  // when Found
        QString reason; // when Unreachable or Refused, in the keyring's words
    };

    // A keyring may first ask the user to unlock it, or to choose a password for a new one:
    // time to answer its window.
    static constexpr std::chrono::seconds kWaitLimit{60};

    explicit Keyring(QString key);
    ~Keyring();
    Keyring(const Keyring&) = delete;
    Keyring& operator=(const Keyring&) = delete;

    // These wait for the keyring's answer (at most kWaitLimit) while the event loop turns, so a
    // window stays live meanwhile; call them where no operation of the window's can run.
    Answer read();
    // Empty when written (or, for remove, when there was nothing to remove); else the reason.
    QString write(const QString& value);
    QString remove();

    // Writes without waiting; `done` gets the reason of a failure (empty when written) from the
    // event loop. Writes started later finish later.
    void writeLater(const QString& value, std::function<void(const QString& failure)> done);
    bool writing() const { return pending_ > 0; }
    // Waits (at most kWaitLimit) until every write started has finished.
    void finishWrites();

private:
    QString key_;
    std::unique_ptr<QObject> context_; // owns the connections to the running jobs
    int pending_ = 0;
};

} // namespace db
