#include "app/DatabaseTask.h"

#include <QElapsedTimer>
#include <QThread>
#include <chrono>

namespace app {

// The work's progress, on the work's thread: reports at most every kProgressIntervalMs or whole
// percent, and stops the work at its next step once it is cancelled.
class DatabaseTask::Pacer final : public db::Progress {
public:
    explicit Pacer(DatabaseTask& task) : task_(task) {}

    void start(std::int64_t steps) override {
        steps_ = steps;
        report(0);
    }
    void step(std::int64_t done) override {
        done_ = done;
        const int percent = steps_ > 0 ? static_cast<int>(done * 100 / steps_) : -1;
        if (percent > lastPercent_ || sinceReport_.elapsed() >= kProgressIntervalMs)
            report(done);
    }
    void serve() override { task_.cancellation_.throwIfCancelled(); }
    void end() override {
        if (lastReported_ != done_)
            report(done_);
    }

private:
    void report(std::int64_t done) {
        lastReported_ = done;
        lastPercent_ = steps_ > 0 ? static_cast<int>(done * 100 / steps_) : -1;
        sinceReport_.start();
        Q_EMIT task_.progressed(done, steps_);
    }

    DatabaseTask& task_;
    std::int64_t steps_ = 0;
    std::int64_t done_ = 0;
    std::int64_t lastReported_ = -1;
    int lastPercent_ = -1;
    QElapsedTimer sinceReport_;
};

DatabaseTask::DatabaseTask(Work work, QObject* parent) : QObject(parent), work_(std::move(work)) {}

DatabaseTask::~DatabaseTask() {
    if (!thread_)
        return;
    cancel();
    // A cancel that came before the statement began to wait is lost on it; say it again until
    // the thread returns.
    while (!thread_->wait(QDeadlineTimer(std::chrono::milliseconds(100))))
        cancellation_.cancel();
}

void DatabaseTask::start() {
    thread_.reset(QThread::create([this] { run(); }));
    connect(thread_.get(), &QThread::finished, this, [this] {
        thread_->wait();
        const std::lock_guard lock(handOver_);
        done_ = true;
        Q_EMIT finished();
    });
    thread_->start();
}

void DatabaseTask::run() {
    db::Cancellation::Scope scope(cancellation_);
    Pacer pacer(*this);
    const std::lock_guard lock(handOver_);
    try {
        work_(pacer);
    } catch (...) {
        failure_ = std::current_exception();
    }
    // Let go of what the work holds on its own thread.
    work_ = nullptr;
}

bool DatabaseTask::waitReturned(QDeadlineTimer deadline) const {
    return !thread_ || thread_->wait(deadline);
}

void DatabaseTask::cancel() {
    cancellation_.cancel();
}

} // namespace app
