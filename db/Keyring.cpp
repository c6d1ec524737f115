#include "db/Keyring.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

namespace db {

namespace {

const QString kService = QStringLiteral("Tallowby");

// Readies a job of ours: our service and key, never QtKeychain's plain-file fallback, and
// deleted once it has answered.
template <class Job>
Job* makeJob(const QString& key) {
    auto* job = new Job(kService);
    job->setKey(key);
    job->setInsecureFallback(false);
    job->setAutoDelete(true);
    return job;
}

// Starts `job` and turns the event loop until it answers or the limit passes; false then.
bool runToEnd(QKeychain::Job* job) {
    QEventLoop loop;
    bool answered = false;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
        answered = true;
        loop.quit();
    });
    QTimer::singleShot(Keyring::kWaitLimit, &loop, &QEventLoop::quit);
    job->start();
    if (!answered) {
        loop.exec();
    }
    return answered;
}

QString noAnswer() {
    return QStringLiteral("the keyring did not answer within %1 s")
        .arg(std::chrono::seconds(Keyring::kWaitLimit).count());
}

QString failureOf(const QKeychain::Job& job) {
    return job.error() == QKeychain::NoError ? QString() : job.errorString();
}

} // namespace

Keyring::Keyring(QString key) : key_(std::move(key)), context_(std::make_unique<QObject>()) {}

Keyring::~Keyring() = default;

Keyring::Answer Keyring::read() {
    if (QCoreApplication::instance() == nullptr) {
        return {Outcome::Unreachable, {}, QStringLiteral("no event loop to reach it from")};
    }
    auto* job = makeJob<QKeychain::ReadPasswordJob>(key_);
    // Kept alive past its answer so that it can be read; deleted with the loop's next turn.
    job->setAutoDelete(false);
    const std::unique_ptr<QKeychain::ReadPasswordJob, void (*)(QObject*)> owner(
        job, [](QObject* o) { o->deleteLater(); });
    if (!runToEnd(job)) {
        return {Outcome::Unreachable, {}, noAnswer()};
    }
    switch (job->error()) {
    case QKeychain::NoError:
        return {Outcome::Found, job->textData(), {}};
    case QKeychain::EntryNotFound:
        return {Outcome::Missing, {}, {}};
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
        return {Outcome::Refused, {}, job->errorString()};
    default:
        // No D-Bus session, no Secret Service, no backend at all.
        return {Outcome::Unreachable, {}, job->errorString()};
    }
}

QString Keyring::write(const QString& value) {
    if (QCoreApplication::instance() == nullptr) {
        return QStringLiteral("no event loop to reach the keyring from");
    }
    auto* job = makeJob<QKeychain::WritePasswordJob>(key_);
    job->setTextData(value);
    job->setAutoDelete(false);
    const std::unique_ptr<QKeychain::Job, void (*)(QObject*)> owner(
        job, [](QObject* o) { o->deleteLater(); });
    return runToEnd(job) ? failureOf(*job) : noAnswer();
}

QString Keyring::remove() {
    if (QCoreApplication::instance() == nullptr) {
        return QStringLiteral("no event loop to reach the keyring from");
    }
    auto* job = makeJob<QKeychain::DeletePasswordJob>(key_);
    job->setAutoDelete(false);
    const std::unique_ptr<QKeychain::Job, void (*)(QObject*)> owner(
        job, [](QObject* o) { o->deleteLater(); });
    if (!runToEnd(job)) {
        return noAnswer();
    }
    return job->error() == QKeychain::EntryNotFound ? QString() : failureOf(*job);
}

void Keyring::writeLater(const QString& value, std::function<void(const QString&)> done) {
    if (QCoreApplication::instance() == nullptr) {
        done(QStringLiteral("no event loop to reach the keyring from"));
        return;
    }
    auto* job = makeJob<QKeychain::WritePasswordJob>(key_);
    job->setTextData(value);
    ++pending_;
    QObject::connect(job, &QKeychain::Job::finished, context_.get(),
                     [this, done = std::move(done)](QKeychain::Job* finished) {
                         --pending_;
                         done(failureOf(*finished));
                     });
    job->start();
}

void Keyring::finishWrites() {
    if (pending_ == 0 || QCoreApplication::instance() == nullptr) {
        return;
    }
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (pending_ == 0) {
            loop.quit();
        }
    });
    limit.start(kWaitLimit);
    poll.start(10);
    loop.exec();
}

} // namespace db
