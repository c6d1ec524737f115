#include "app/Wizard.h"

#include "app/Form1.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/Host.h"
#include "app/LoadedDocument.h"
#include "app/ServerTrust.h"
#include "db/Error.h"
#include "db/Probe.h"
#include "db/SettingsStore.h"
#include "db/TrustedCertificates.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <algorithm>

namespace app {

void WindowPacing::serve() {
    wizard_.yieldIfDue();
}

Wizard::Wizard(Host& host, db::SettingsStore& store, std::chrono::seconds loginTimeout)
    : host_(host), store_(store), loginTimeout_(loginTimeout) {
    store_.setFailureReporter([this](const QString& message) {
        QMetaObject::invokeMethod(
            &storeReports_, [this, message] { host_.showMessage(form1_.get(), message); },
            Qt::QueuedConnection);
    });
}

// The pages go in the reverse order of their making; then the threads of cancelled work are
// waited for.
Wizard::~Wizard() {
    store_.setFailureReporter({});
    form4_.reset();
    form3_.reset();
    form2_.reset();
    form1_.reset();
    abandoned_.clear();
}

void Wizard::start() {
    runOperation([this] {
        Form1& connection = form1();
        const db::LoginAttempt attempt = tryLogin(connection.settings());
        if (attempt.ok) {
            show(form2());
            return;
        }
        show(connection);
        if (attempt.certificate && settleTrust(&connection, *attempt.certificate) &&
            tryLogin(connection.settings()).ok) {
            move(connection, form2());
        }
    });
}

Form1& Wizard::form1() {
    if (!form1_) {
        form1_ = std::make_unique<Form1>(*this);
        form1_->load();
    }
    return *form1_;
}

Form2& Wizard::form2() {
    if (!form2_) {
        form2_ = std::make_unique<Form2>(*this);
        runOperation([this] { form2_->load(); });
    }
    return *form2_;
}

Form3& Wizard::form3() {
    if (!form3_) {
        form3_ = std::make_unique<Form3>(*this);
        form3_->load();
    }
    return *form3_;
}

Form4& Wizard::form4() {
    if (!form4_) {
        form4_ = std::make_unique<Form4>(*this);
        form4_->load();
    }
    return *form4_;
}

db::ConnectionSettings Wizard::connectionSettings() {
    return form1().settings();
}

void Wizard::show(QWidget& page) {
    page.show();
    page.activateWindow();
}

void Wizard::move(QWidget& from, QWidget& to) {
    show(to);
    from.hide();
}

void Wizard::runAction(const std::function<void()>& action) {
    if (busy() || ended_)
        return;
    runOperation(action);
}

void Wizard::runOperation(const std::function<void()>& work) {
    ++depth_;
    try {
        work();
    } catch (const ProgramEnding&) {
        --depth_;
        if (depth_ > 0)
            throw;
        finish();
        return;
    }
    --depth_;
    if (depth_ == 0 && endRequested_)
        finish();
}

void Wizard::endProgram() {
    if (ended_)
        return;
    if (busy()) {
        endRequested_ = true;
        if (running_ != nullptr)
            running_->cancel();
        if (waiting_ != nullptr)
            waiting_->quit();
        return;
    }
    finish();
}

bool Wizard::leavesWorkBehind(std::chrono::milliseconds grace) const {
    const QDeadlineTimer deadline(grace);
    return std::any_of(
        abandoned_.begin(), abandoned_.end(),
        [&](const std::unique_ptr<DatabaseTask>& task) { return !task->waitReturned(deadline); });
}

void Wizard::finish() {
    if (ended_)
        return;
    ended_ = true;
    host_.endProgram();
}

DocumentMaker& Wizard::documentMaker() {
    if (!documents_)
        documents_ = std::make_unique<DocumentMaker>();
    return *documents_;
}

bool Wizard::serviceDue() const {
    return !sinceService_.isValid() ||
           sinceService_.elapsed() >= static_cast<qint64>(kServiceInterval.count());
}

void Wizard::yieldIfDue() {
    if (serviceDue())
        serve();
}

void Wizard::serve() {
    QCoreApplication::processEvents();
    sinceService_.start();
    if (endRequested_)
        throw ProgramEnding{};
}

void Wizard::runDatabaseWork(DatabaseTask::Work work,
                             const std::function<void(qint64, qint64)>& onProgress) {
    if (endRequested_)
        throw ProgramEnding{};
    auto task = std::make_unique<DatabaseTask>(std::move(work));
    QEventLoop loop;
    QObject::connect(task.get(), &DatabaseTask::finished, &loop, &QEventLoop::quit);
    if (onProgress)
        QObject::connect(task.get(), &DatabaseTask::progressed, &loop, onProgress);
    running_ = task.get();
    waiting_ = &loop;
    task->start();
    loop.exec();
    running_ = nullptr;
    waiting_ = nullptr;
    sinceService_.start();
    if (!task->done()) {
        // Ended meanwhile, by "Cancel" or by the application quitting its loops.
        endRequested_ = true;
        task->cancel();
        abandoned_.push_back(std::move(task));
        throw ProgramEnding{};
    }
    if (endRequested_)
        throw ProgramEnding{};
    if (const std::exception_ptr failure = task->failure())
        std::rethrow_exception(failure);
}

db::LoginAttempt Wizard::tryLogin(const db::ConnectionSettings& settings) {
    auto attempt = std::make_shared<db::LoginAttempt>();
    runDatabaseWork([attempt, settings, timeout = loginTimeout_](db::Progress&) {
        *attempt = db::tryLogin(settings, db::ConnectionStringForm::MixedCase, timeout);
    });
    return *attempt;
}

bool Wizard::settleTrust(QWidget* parent, const db::CertificateCheck& check) {
    switch (check.trust) {
    case db::ServerTrust::NotTrusted:
    case db::ServerTrust::PinChanged:
        if (!host_.offerRisk(parent, trustQuestion(check), QString::fromUtf16(kTrustCertificate)))
            return false;
        try {
            db::TrustedCertificates().pin(db::parseServerAddress(check.server),
                                          check.presented->der);
        } catch (const db::Error& e) {
            host_.showMessage(parent, e.message());
            return false;
        }
        return true;
    case db::ServerTrust::NoEncryption:
        if (!host_.offerRisk(parent, trustQuestion(check), QString::fromUtf16(kConnectUnencrypted)))
            return false;
        unencrypted_.insert(check.server);
        return true;
    case db::ServerTrust::TlsFailed:
        host_.showMessage(parent, check.describe());
        return false;
    case db::ServerTrust::Trusted:
    case db::ServerTrust::Pinned:
    case db::ServerTrust::Failed:
        break;
    }
    return false;
}

db::ConnectionSettings Wizard::withRunChoices(db::ConnectionSettings settings) const {
    if (unencrypted_.contains(settings.server))
        settings.encryption = db::Encryption::AllowUnencrypted;
    return settings;
}

} // namespace app
