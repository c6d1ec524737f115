#include "app/Program.h"

#include "app/Host.h"
#include "app/Wizard.h"
#include "db/DriverSetup.h"
#include "db/SettingsStore.h"

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace app {

int runProgram() {
    // The wizard decides when the program ends; hiding one page to show the next must not.
    QApplication::setQuitOnLastWindowClosed(false);

    db::SettingsStore store;
    DesktopHost host;
    Wizard wizard(host, store);
    // From inside the event loop, so that the program answers the desktop while the stored
    // login is tried, and an end of the program meanwhile ends the loop.
    QTimer::singleShot(0, QCoreApplication::instance(), [&wizard] { wizard.start(); });
    const int code = QApplication::exec();
    // Work whose server answers the cancel returns within a few milliseconds, and the process
    // then ends in order; this much is spent on it at most, as the user sees no window.
    constexpr std::chrono::milliseconds kGrace{50};
    if (!wizard.leavesWorkBehind(kGrace))
        return code;
    // Nothing of ours is being written now: the operation that ended unwound before the loop
    // did, finishing or removing its files, and the settings file is written as each value
    // changes. Only the keyring's writes may still be under way. Then the process ends as it
    // stands: no destructor runs, none of them joins the thread in the driver (the wizard's,
    // the application object's, the static ones of the libraries). A keyring's failure meanwhile
    // goes to standard error: no window is shown any more.
    store.setFailureReporter({});
    store.finishWrites();
    db::removeDriverConfiguration();
    std::fflush(nullptr);
    std::_Exit(code);
}

} // namespace app
