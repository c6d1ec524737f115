#pragma once

#include "app/DatabaseTask.h"
#include "db/Connection.h"
#include "db/ConnectionSettings.h"
#include "db/Probe.h"
#include "db/Progress.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QEventLoop;
class QWidget;

namespace db {
class SettingsStore;
}

namespace app {

class DocumentMaker;
class Host;
class Form1;
class Form2;
class Form3;
class Form4;

class Wizard;

// For work on the window's thread that shows no progress: the window system served as the
// wizard's pace allows, and nothing else.
class WindowPacing final : public db::Progress {
public:
    explicit WindowPacing(Wizard& wizard) : wizard_(wizard) {}
    void serve() override;

private:
    Wizard& wizard_;
};

// Thrown out of a long operation, from the point where it serves the window system, when the
// user has ended the program meanwhile; caught where the operation began.
struct ProgramEnding {};

// The four pages of one run and what they share. Each page is made the first time it is shown
// or touched and lives, shown or hidden, until the program ends.
//
// Button actions run one at a time: while one runs (a table listing, an export, a conversion,
// a question on screen), the presses of every other button except "Cancel" are ignored, so
// nothing re-enters a running operation. "Cancel" and closing a page end the program at once:
// database work on its thread is cancelled then and there, other work is abandoned at its next
// service of the window system.
class Wizard {
public:
    Wizard(Host& host, db::SettingsStore& store,
           std::chrono::seconds loginTimeout = db::kDefaultLoginTimeout);
    ~Wizard();
    Wizard(const Wizard&) = delete;
    Wizard& operator=(const Wizard&) = delete;

    // Loads the connection page and opens the table page at once when the stored login works,
    // else shows the connection page. The window system is served while the login is tried.
    void start();

    Form1& form1();
    Form2& form2();
    Form3& form3();
    Form4& form4();
    // The output page if it has been made, without making it.
    Form4* existingForm4() const { return form4_.get(); }

    Host& host() { return host_; }
    // For work that makes documents away from the window's thread; made on first use, from the
    // window's thread.
    DocumentMaker& documentMaker();
    db::SettingsStore& store() { return store_; }
    std::chrono::seconds loginTimeout() const { return loginTimeout_; }
    // The login as the connection page's boxes hold it now.
    db::ConnectionSettings connectionSettings();

    // Shows `to`, then hides `from`.
    void move(QWidget& from, QWidget& to);

    // Runs one button's action, unless another is running or the program has ended.
    void runAction(const std::function<void()>& action);
    bool busy() const { return depth_ > 0; }

    // "Cancel", "Exit" and closing a page.
    void endProgram();
    // Once the program has ended: whether work cancelled at its end still waits in the driver
    // after `grace` (a server that answers the cancel lets it return sooner), for a server that
    // may not answer before the login's or the query's time-out. The wizard's destruction would
    // wait for it; the process can end without (see runProgram).
    bool leavesWorkBehind(std::chrono::milliseconds grace = {}) const;

    // Long operations call this between pieces of work: about every 15 ms of work it lets the
    // window system process its events, so that pages repaint and the pointer and progress
    // bars stay live. Throws ProgramEnding when the program was ended meanwhile.
    void yieldIfDue();
    bool serviceDue() const;
    void serve();

    // Runs `work` on a thread of its own (see DatabaseTask) while the window system is served,
    // and returns once it has ended; `onProgress` gets its progress meanwhile. Rethrows what the
    // work threw. Throws ProgramEnding as soon as the program is ended meanwhile: the work is
    // cancelled then, and its thread is waited for when the wizard goes.
    void runDatabaseWork(DatabaseTask::Work work,
                         const std::function<void(qint64, qint64)>& onProgress = {});
    // The silent login probe (MSSQL::CanConnect), run so, with what stopped it.
    db::LoginAttempt tryLogin(const db::ConnectionSettings& settings);
    // A server that could not be trusted with the login: shows why and offers the way on (trust
    // its certificate, or reach it unencrypted for this run). True when the user took it.
    bool settleTrust(QWidget* parent, const db::CertificateCheck& check);
    // `settings` with the choices the user made for this run only.
    db::ConnectionSettings withRunChoices(db::ConnectionSettings settings) const;

    static constexpr std::chrono::milliseconds kServiceInterval{15};

private:
    void runOperation(const std::function<void()>& work);
    void finish();
    static void show(QWidget& page);

    Host& host_;
    db::SettingsStore& store_;
    std::chrono::seconds loginTimeout_;
    std::unique_ptr<Form1> form1_;
    std::unique_ptr<Form2> form2_;
    std::unique_ptr<Form3> form3_;
    std::unique_ptr<Form4> form4_;
    int depth_ = 0;
    bool endRequested_ = false;
    bool ended_ = false;
    QElapsedTimer sinceService_;
    // The store's failures are shown from the event loop, never from inside a keystroke; a
    // message still waiting goes with the wizard.
    QObject storeReports_;
    // Before the work below: it goes only once that work has returned.
    std::unique_ptr<DocumentMaker> documents_;
    DatabaseTask* running_ = nullptr;
    QEventLoop* waiting_ = nullptr;
    // Work cancelled when the program ended, until its thread returns.
    std::vector<std::unique_ptr<DatabaseTask>> abandoned_;
    // Servers the user chose to reach without encryption; forgotten when the program ends.
    QSet<QString> unencrypted_;
};

} // namespace app
