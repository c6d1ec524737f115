#pragma once

// The whole program (app::runProgram) in a child process whose user presses "Cancel" while the
// wizard waits for the server, and the time from that press to the end of the process. The
// child is the calling executable itself, started with kChildFlag; its main hands such a start
// to runChild once the application object exists.

#include "db/ConnectionSettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

namespace cancelled {

inline constexpr char kChildFlag[] = "--run-program-and-cancel";

// What the wizard waits for when "Cancel" is pressed, 300 ms after "Next >".
enum class Wait {
    // The login of the connection page: the stored login (see storeForLogin) fails at start-up,
    // then `server` is typed in for it.
    Login,
    // The rows of a table: the stored login works, and the table page's "Next >" exports
    // `table`.
    Rows,
};

// Writes the settings the child reads in `folder` (its XDG_CONFIG_HOME): `login` stored,
// and the certificate `der` trusted for `server`.
void storeSettings(const QString& folder, const db::ConnectionSettings& login,
                   const QString& server, const QByteArray& der);
// A login that fails at once (nothing listens on its port), the rest of it `login`'s.
db::ConnectionSettings failingAtOnce(db::ConnectionSettings login);

struct Outcome {
    std::optional<std::chrono::microseconds> pressToEnd; // none: not pressed
    bool pressedWhileWaiting = false;                    // not after "Next >" had come to its end
    bool ended = false;                                  // within the limit, by itself
    int exitCode = -1;
    QString output; // the child's standard output and error
};

// Starts `executable` as the child, waiting at `wait` for `value` (the server or the table),
// with XDG_CONFIG_HOME at `folder`; gives it `limit` to end after the press, then kills it. At
// the login, a `passwordBeforeCancel` is typed into the page's password box just before the
// press.
Outcome run(const QString& executable, Wait wait, const QString& value, const QString& folder,
            std::chrono::milliseconds limit, const QString& passwordBeforeCancel = {});

// In the child: runs the program and presses its buttons. Returns the program's exit code.
int runChild(const QStringList& arguments);

} // namespace cancelled
