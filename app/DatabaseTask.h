#pragma once

#include "db/Cancellation.h"
#include "db/Progress.h"

#include <QDeadlineTimer>
#include <QObject>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

namespace app {

// Runs one piece of database work on a thread of its own, so that the window's thread only
// starts it, shows its progress and takes its outcome. The work opens its own connection (every
// operation of the database layer does), so its ODBC handles are used by that thread alone.
//
// The work may outlive the code that started it: when the program ends during it, the task is
// cancelled and kept until its thread has returned. So the work keeps what it writes in what it
// owns (captured by value, a shared_ptr), never in the starter's locals.
class DatabaseTask final : public QObject {
    Q_OBJECT

public:
    using Work = std::function<void(db::Progress&)>;

    explicit DatabaseTask(Work work, QObject* parent = nullptr);
    // Cancels the work if it still runs and waits for its thread.
    ~DatabaseTask() override;

    void start();
    // From the window's thread, at once: SQLCancel on the statement the work is waiting on, and
    // every later step of the work fails. finished() still comes, once the thread has returned.
    void cancel();
    bool cancelled() const { return cancellation_.cancelled(); }
    bool done() const { return done_; }
    // Waits until the work's thread has returned or `deadline` has passed; true when it has
    // returned (or never started), whether or not finished() has come yet.
    bool waitReturned(QDeadlineTimer deadline) const;
    // Once finished() has come: what the work threw (a db::Error, or the cancellation's), or
    // null when it came to its end.
    std::exception_ptr failure() const { return failure_; }

    // The least time between two progress reports, unless the share done grows by a whole
    // percent sooner.
    static constexpr int kProgressIntervalMs = 50;

Q_SIGNALS:
    // From the work's db::Progress, queued to the window's thread at a bounded rate: `done` of
    // `steps` (0 when the total is not known). The last step always comes.
    void progressed(qint64 done, qint64 steps);
    // In the window's thread, when the work has ended one way or the other.
    void finished();

private:
    class Pacer;
    void run();

    Work work_;
    db::Cancellation cancellation_;
    // Taken by the thread as it ends and by the window's thread before it looks at the outcome,
    // so that what the work wrote is seen whole there, whatever carried the news.
    std::mutex handOver_;
    std::unique_ptr<QThread> thread_;
    std::exception_ptr failure_;
    bool done_ = false;
};

} // namespace app
