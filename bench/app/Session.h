#pragma once

// The wizard driven as its user drives it, and the command line run beside it: a session on the
// table page, the timed "Next >", the checks of what they wrote.

#include "Bench.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/Host.h"
#include "app/Wizard.h"
#include "db/ConnectionSettings.h"
#include "db/SettingsStore.h"

#include <QCoreApplication>
#include <QListWidget>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace benchapp {

// Answers every question with "No" and keeps every message: the wizard shows none on a run
// that works, so any message is a failure of the run.
class BenchHost final : public app::Host {
public:
    void showMessage(QWidget*, const QString& text) override { messages.push_back(text); }
    bool askYesNo(QWidget*, const QString& text) override {
        messages.push_back(text);
        return false;
    }
    bool offer(QWidget*, const QString& text, const QString&) override {
        messages.push_back(text);
        return false;
    }
    bool offerRisk(QWidget*, const QString& text, const QString&) override {
        messages.push_back(text);
        return false;
    }
    std::optional<QString> chooseFile(QWidget*, const app::FileDialogRequest&) override {
        return std::nullopt;
    }
    double randomUnit() override { return 0.5; } // never the home page
    void openUrl(const QUrl&) override {}
    void endProgram() override { ++ends; }

    std::vector<QString> messages;
    int ends = 0;
};

// One wizard, started on the table page with the table "bench" selected.
class Session {
public:
    Session(const QString& storePath, const db::ConnectionSettings& login) : store_(storePath) {
        store_.save(login);
        wizard_ = std::make_unique<app::Wizard>(host_, store_);
        wizard_->start();
        app::Form2* tables = &wizard_->form2();
        if (!tables->isVisible())
            throw Failure("the wizard did not open on the table page" + messagesText());
        const QList<QListWidgetItem*> found =
            tables->List1->findItems(QStringLiteral("bench"), Qt::MatchExactly);
        if (found.isEmpty())
            throw Failure("the table page does not list the table bench" + messagesText());
        tables->List1->setCurrentItem(found.constFirst());
        QCoreApplication::processEvents();
    }
    ~Session() { wizard_.reset(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    app::Wizard& wizard() { return *wizard_; }
    app::Form2& tables() { return wizard_->form2(); }
    app::Form3& optionsPage() { return wizard_->form3(); }

    // Throws when the wizard showed a message or ended.
    void checkQuiet() const {
        if (!host_.messages.empty() || host_.ends > 0)
            throw Failure("the wizard " +
                          std::string(host_.ends > 0 ? "ended" : "showed a message") +
                          messagesText());
    }

private:
    std::string messagesText() const {
        std::string text;
        for (const QString& message : host_.messages)
            text += ": " + message.toStdString();
        return text;
    }

    db::SettingsStore store_;
    BenchHost host_;
    std::unique_ptr<app::Wizard> wizard_;
};

struct WizardTiming {
    double seconds = 0; // the press and the first turn of the event loop after it
    double press = 0;   // the press alone: its handler runs the whole export
    double cpu = 0;     // processor time of the whole process meanwhile, the server's too
    // When the table page's progress bar first reached 1, 25, 50, 75 and 99 percent: the
    // first is the end of the extraction, the rest show how the conversion's pace holds up.
    std::vector<std::pair<int, double>> marks;
    double lastInsertion = 0; // the preview's last change
    double pageShown = 0;     // the options page's Show event
};

// (w): presses "Next >" on the table page; the export runs inside the press. One turn of the
// event loop after it paints the options page.
WizardTiming timeWizard(Session& session);
// When the progress bar reached its marks, the preview's last change, the page's Show event.
QString marksText(const WizardTiming& timing);

// Whether the file holds exactly `text` followed by `tail`, read in slices so that a file of
// hundreds of megabytes adds nothing to the peak.
bool fileHolds(const QString& path, std::string_view text, std::string_view tail);
// Throws unless the preview with CR LF added is the file `tallowby-cli export` wrote.
void checkPreview(Session& session, const QString& file, const char* when);
// The rows in the XML.
std::size_t rowsIn(std::string_view xml);
// One whole command, from its start to its exit.
double timeCli(const Options& options, const QStringList& arguments);
// (c): `tallowby-cli export` of the table to `output`.
double timeCliExport(const Options& options, std::uint16_t port, const QString& output);

} // namespace benchapp
