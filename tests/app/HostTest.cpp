#include "app/Host.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// The output page's browse dialog is Qt's own, in every desktop: a native Open dialog would
// accept only files that already exist, so a new output file could not be chosen.
TEST(DesktopHost, TheFileDialogTakesANewFileNameAndShowsFilesWithoutADot) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fresh = QDir(dir.path()).filePath(QStringLiteral("new-output"));
    bool seen = false;
    QFileDialog::Options options;
    QStringList filters;
    // Answers the dialog once it is up: type a name that does not exist, then accept. The
    // dialog reads its folder on a thread of its own, so on a busy machine an early accept may
    // not take; it is tried again, and after 5 s the dialog is cancelled rather than left open.
    int tries = 0;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QFileDialog* dialog = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<QFileDialog*>(window); found && found->isVisible())
                dialog = found;
        }
        if (!dialog)
            return;
        if (!seen) {
            seen = true;
            options = dialog->options();
            filters = dialog->nameFilters();
        }
        if (++tries > 500) {
            dialog->reject();
            return;
        }
        // Typed into the name box: selectFile() leaves that box alone once it has the focus,
        // which it takes as soon as the dialog is active.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!name)
            return;
        name->setText(fresh);
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept, as its Open button
    });
    answer.start(10);
    app::DesktopHost host;
    const std::optional<QString> chosen = host.chooseFile(
        nullptr, {QStringLiteral("XML Output File"),
                  {QStringLiteral("XML Files (*.xml)"), QStringLiteral("All Files (*)")},
                  QString()});
    answer.stop();
    ASSERT_TRUE(seen);
    EXPECT_TRUE(options.testFlag(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(filters.value(1), QStringLiteral("All Files (*)"));
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, fresh);
}

} // namespace
