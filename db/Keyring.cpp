#include "db/Keyring.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <optional>
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

// Starts `job` and turns the event loop until it answers; the reason when it cannot, or does
// not within the limit. The job goes at the loop's next turn, once its answer has been read.
std::optional<QString> runToEnd(QKeychain::Job* job) {
    job->setAutoDelete(false);
    if (QCoreApplication::instance() == nullptr) {
        delete job;
        return QStringLiteral("no event loop to reach the keyring from");
    }
    const std::unique_ptr<QKeychain::Job, void (*)(QObject*)> owner(
        job, [](QObject* o) { o->deleteLater(); });
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
    if (!answered) {
        return QStringLiteral("the keyring did not answer within %1 s")
            .arg(std::chrono::seconds(Keyring::kWaitLimit).count());
    }
    return std::nullopt;
}

QString failureOf(const QKeychain::Job& job) {
    return job.error() == QKeychain::NoError ? QString() : job.errorString();
}

} // namespace

Keyring::Keyring(QString key) : key_(std::move(key)), context_(std::make_unique<QObject>()) {}

Keyring::~Keyring() = default;

Keyring::Answer Keyring::read() {
    auto* job = makeJob<QKeychain::ReadPasswordJob>(key_);
    if (const std::optional<QString> failure = runToEnd(job)) {
        return {Outcome::Unreachable, {}, *failure};
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
    auto* job = makeJob<QKeychain::WritePasswordJob>(key_);
    job->setTextData(value);
    if (const std::optional<QString> failure = runToEnd(job)) {
        return *failure;
    }
    return failureOf(*job);
}

QString Keyring::remove() {
    auto* job = makeJob<QKeychain::DeletePasswordJob>(key_);
    if (const std::optional<QString> failure = runToEnd(job)) {
        return *failure;
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
