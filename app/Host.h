#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <cstdint>
#include <optional>

class QWidget;

namespace app {

// What the file dialog of the output page is asked to show.
struct FileDialogRequest {
    QString title;
    QStringList filters;
    QString selected; // the file name the dialog returned last time; empty at first
};

// Everything the wizard asks of the desktop around it: message boxes, the file dialog, the
// chance visit of our home page and the end of the program. The program uses DesktopHost;
// tests put in their own to answer questions and record what was shown.
class Host {
public:
    virtual ~Host() = default;

    // A message box with the title "Tallowby ", the OK button only and no icon.
    virtual void showMessage(QWidget* parent, const QString& text) = 0;
    // A question with Yes and No, Yes the default. True means Yes.
    virtual bool askYesNo(QWidget* parent, const QString& text) = 0;
    // A message box offering `action` (the default) beside Cancel. True means `action`.
    virtual bool offer(QWidget* parent, const QString& text, const QString& action) = 0;
    // The same with Cancel the default: for a choice that lowers the protection of the login,
    // which Enter alone never makes.
    virtual bool offerRisk(QWidget* parent, const QString& text, const QString& action) = 0;
    // The memory the system can still give the program; nothing when it cannot be told.
    virtual std::optional<std::uint64_t> availableMemory();
    // An Open dialog; nothing when the user cancels.
    virtual std::optional<QString> chooseFile(QWidget* parent,
                                              const FileDialogRequest& request) = 0;
    // A number drawn uniformly from [0, 1).
    virtual double randomUnit() = 0;
    // Opens `url` in the user's browser, without waiting and without reporting the outcome.
    virtual void openUrl(const QUrl& url) = 0;
    // The program ends: no page stays and no further handler runs.
    virtual void endProgram() = 0;
};

// The real desktop: QMessageBox, QFileDialog, QDesktopServices, and an exit of the event loop.
class DesktopHost final : public Host {
public:
    void showMessage(QWidget* parent, const QString& text) override;
    bool askYesNo(QWidget* parent, const QString& text) override;
    bool offer(QWidget* parent, const QString& text, const QString& action) override;
    bool offerRisk(QWidget* parent, const QString& text, const QString& action) override;
    std::optional<QString> chooseFile(QWidget* parent, const FileDialogRequest& request) override;
    double randomUnit() override;
    void openUrl(const QUrl& url) override;
    void endProgram() override;
};

// The title of every message box, with its trailing blank.
inline constexpr char16_t kMessageTitle[] = u"Tallowby ";

} // namespace app
