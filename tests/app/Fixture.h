#pragma once

#include "TestFiles.h"
#include "TestServer.h"
#include "app/Host.h"
#include "app/Wizard.h"
#include "db/SettingsStore.h"

#include <QApplication>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <vector>

class QListWidget;
class QWidget;
namespace app {
class Form1;
class Form2;
} // namespace app

// Answers every question of the wizard and records what it was shown.
class RecordingHost final : public app::Host {
public:
    void showMessage(QWidget* parent, const QString& text) override;
    bool askYesNo(QWidget* parent, const QString& text) override;
    bool offer(QWidget* parent, const QString& text, const QString& action) override;
    bool offerRisk(QWidget* parent, const QString& text, const QString& action) override;
    std::optional<std::uint64_t> availableMemory() override { return memory; }
    std::optional<QString> chooseFile(QWidget* parent,
                                      const app::FileDialogRequest& request) override;
    double randomUnit() override { return random; }
    void openUrl(const QUrl& url) override { opened.push_back(url); }
    void endProgram() override { ++ends; }

    std::vector<QString> messages;
    std::vector<QWidget*> messageParents;
    std::vector<QString> questions;
    bool answerYes = true;
    std::vector<QString> offers; // text, then the offered action
    bool takeOffer = false;
    std::function<void()> duringOffer;
    std::vector<QString> risks; // text, then the offered action
    bool takeRisk = false;
    std::optional<std::uint64_t> memory = std::uint64_t{1} << 40;
    std::vector<app::FileDialogRequest> dialogs;
    std::deque<QString> dialogAnswers; // none left, or a null string: cancelled
    double random = 0.5;
    std::vector<QUrl> opened;
    int ends = 0;
    std::function<void()> duringMessage;  // runs while a message is "on screen"
    std::function<void()> duringQuestion; // runs while a question is "on screen"
};

// A wizard over a settings store in a temporary folder, and the test server's database "shop"
// holding a few small tables.
class WizardTest : public ServerTest {
protected:
    explicit WizardTest(tdsserver::Config config = {}) : ServerTest(std::move(config)) {}

    void SetUp() override;
    void seed() override;
    void TearDown() override;

    void storeLogin(const db::ConnectionSettings& settings);
    // Makes the wizard, without its start-up.
    app::Wizard& make();
    // Makes the wizard and runs its start-up.
    app::Wizard& start();
    // Presses a button the way a user does.
    static void press(QWidget* button);
    // Types the login into the connection page's boxes.
    static void fillIn(app::Form1& page, const db::ConnectionSettings& settings);
    // Start-up with a stored login that works: the table page.
    app::Form2& startOnTables();
    // Start-up on the table page, then "Next >" with `table` selected.
    void exportTable(const QString& table);
    QString storePath() const;
    QString path(const char* name) const;
    // What `tallowby-cli export` writes of `table`, through the file path of the output code.
    QByteArray cliExport(const QString& table);
    // The file that "Finish" writes of the preview as it stands.
    QByteArray previewFile() const;

    QTemporaryDir folder;
    std::unique_ptr<db::SettingsStore> store;
    RecordingHost host;
    std::unique_ptr<app::Wizard> wizard;
};

// The program's window of type Page, or nullptr while the page has not been made.
template <class Page>
Page* madePage() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* page = dynamic_cast<Page*>(window)) {
            return page;
        }
    }
    return nullptr;
}

// Latin-1 literals as a list, for comparisons.
QStringList strings(std::initializer_list<const char*> items);
QStringList entries(const QListWidget& list);
