#include "db/Cancellation.h"

#include "db/Error.h"

#include <algorithm>
#include <sql.h>

namespace db {

namespace {
thread_local Cancellation* currentCancellation = nullptr;
}

void Cancellation::cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    // Under the lock, so that a statement is never freed while it is being cancelled.
    for (void* statement : statements_)
        SQLCancel(static_cast<SQLHSTMT>(statement));
}

bool Cancellation::cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

void Cancellation::throwIfCancelled() const {
    if (cancelled())
        throw Error(QString::fromUtf16(kCancelledMessage));
}

void Cancellation::attach(void* statement) {
    std::lock_guard lock(mutex_);
    if (cancelled_)
        throw Error(QString::fromUtf16(kCancelledMessage));
    statements_.push_back(statement);
}

void Cancellation::detach(void* statement) noexcept {
    std::lock_guard lock(mutex_);
    statements_.erase(std::remove(statements_.begin(), statements_.end(), statement),
                      statements_.end());
}

Cancellation::Scope::Scope(Cancellation& cancellation) : previous_(currentCancellation) {
    currentCancellation = &cancellation;
}

Cancellation::Scope::~Scope() {
    currentCancellation = previous_;
}

Cancellation* Cancellation::current() {
    return currentCancellation;
}

} // namespace db
