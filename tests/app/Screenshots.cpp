// Drives the real pages through one export against a running server and saves a picture of
// each page, for a person to look at. Not a test: run it by hand under xvfb-run, with the
// settings store (XDG_CONFIG_HOME) holding a login that works.
//
//     app_screenshots OUTPUT_FOLDER [TABLE]

#include "Fixture.h"
#include "app/Form1.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/PushCheckBox.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <cstdio>

namespace {

bool save(QWidget& page, const QString& folder, const char* name) {
    page.show();
    page.activateWindow();
    if (!QTest::qWaitForWindowExposed(&page))
        return false;
    QTest::qWait(200);
    const QString file = QDir(folder).filePath(QString::fromLatin1(name));
    // The screen's picture includes whatever the window system draws around the page.
    const QRect frame = page.frameGeometry();
    const QPixmap screen = page.screen()->grabWindow(0, frame.x() - 4, frame.y() - 4,
                                                     frame.width() + 8, frame.height() + 8);
    return page.grab().save(file) && screen.save(QString(file).replace(
                                         QStringLiteral(".png"), QStringLiteral("-screen.png")));
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc < 2) {
        std::fprintf(stderr, "usage: app_screenshots OUTPUT_FOLDER [TABLE]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString table = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("Customers");
    QDir().mkpath(folder);

    db::SettingsStore store;
    RecordingHost host;
    app::Wizard wizard(host, store);
    wizard.start();
    if (!wizard.existingForm2() || !wizard.existingForm2()->isVisible()) {
        std::fprintf(stderr, "the stored login does not open the table page\n");
        return 1;
    }
    bool ok = save(wizard.form2(), folder, "form2-tables.png");
    QTest::mouseClick(wizard.form2().Check2, Qt::LeftButton);
    ok = save(wizard.form1(), folder, "form1-connection.png") && ok;
    QTest::mouseClick(wizard.form1().Check3, Qt::LeftButton);
    const QList<QListWidgetItem*> found = wizard.form2().List1->findItems(table, Qt::MatchExactly);
    if (!found.isEmpty())
        wizard.form2().List1->setCurrentItem(found.constFirst());
    QTest::mouseClick(wizard.form2().Check3, Qt::LeftButton);
    ok = save(wizard.form3(), folder, "form3-options.png") && ok;
    QTest::mouseClick(wizard.form3().Check7, Qt::LeftButton);
    wizard.form4().Text1->setText(QDir(folder).filePath(QStringLiteral("export.xml")));
    ok = save(wizard.form4(), folder, "form4-output.png") && ok;
    for (const QString& message : host.messages)
        std::fprintf(stderr, "message: %s\n", qPrintable(message));
    return ok && host.messages.empty() ? 0 : 1;
}
