#include "app/Host.h"
#include "app/LargePages.h"
#include "app/Wizard.h"
#include "db/SettingsStore.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    Main::restartWithLargePages(argv);
    QApplication application(argc, argv);
    // The wizard decides when the program ends; hiding one page to show the next must not.
    QApplication::setQuitOnLastWindowClosed(false);

    db::SettingsStore store;
    app::DesktopHost host;
    app::Wizard wizard(host, store);
    wizard.start();
    if (wizard.ended())
        return 0;
    return QApplication::exec();
}
