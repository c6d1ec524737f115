#include "app/Program.h"
#include "db/DriverSetup.h"
#include "db/Error.h"

#include <QApplication>
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
    return app::runProgram();
}
