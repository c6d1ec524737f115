#include "app/Host.h"
#include "app/Wizard.h"
#include "db/DriverSetup.h"
#include "db/Error.h"
#include "db/SettingsStore.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char* argv[]) {
    // Before the application object, which may start threads of its own.
    try {
        db::prepareDriverEnvironment();
    } catch (const db::Error& e) {
        std::fprintf(stderr, "tallowby: %s\n", e.what());
        return 1;
    }
    QApplication application(argc, argv);
    // The wizard decides when the program ends; hiding one page to show the next must not.
    QApplication::setQuitOnLastWindowClosed(false);

    db::SettingsStore store;
    app::DesktopHost host;
    app::Wizard wizard(host, store);
    // From inside the event loop, so that the program answers the desktop while the stored
    // login is tried, and an end of the program meanwhile ends the loop.
    QTimer::singleShot(0, &application, [&wizard] { wizard.start(); });
    return QApplication::exec();
}
