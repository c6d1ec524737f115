#include "app/Host.h"

#include "convert/AvailableMemory.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QWidget>

namespace app {

void DesktopHost::showMessage(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf16(kMessageTitle), text, QMessageBox::Ok,
                    parent);
    box.exec();
}

bool DesktopHost::askYesNo(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf16(kMessageTitle), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

bool DesktopHost::offer(QWidget* parent, const QString& text, const QString& action) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf16(kMessageTitle), text,
                    QMessageBox::Cancel, parent);
    QPushButton* accept = box.addButton(action, QMessageBox::AcceptRole);
    box.setDefaultButton(accept);
    box.exec();
    return box.clickedButton() == accept;
}

bool DesktopHost::offerRisk(QWidget* parent, const QString& text, const QString& action) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf16(kMessageTitle), text,
                    QMessageBox::Cancel, parent);
    QPushButton* accept = box.addButton(action, QMessageBox::AcceptRole);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == accept;
}

std::optional<std::uint64_t> Host::availableMemory() {
    return CSVXML::availableMemory();
}

std::optional<QString> DesktopHost::chooseFile(QWidget* parent, const FileDialogRequest& request) {
    QFileDialog dialog(parent, request.title);
    // An Open dialog that neither asks before overwriting nor wants the file to exist: the
    // overwrite question comes when the file is written.
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Native Open dialogs accept only files that exist; Qt's own takes a new name on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters(request.filters);
    if (!request.selected.isEmpty())
        dialog.selectFile(request.selected);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

double DesktopHost::randomUnit() {
    return QRandomGenerator::global()->generateDouble();
}

void DesktopHost::openUrl(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

void DesktopHost::endProgram() {
    for (QWidget* window : QApplication::topLevelWidgets())
        window->hide();
    QCoreApplication::exit(0);
}

} // namespace app
