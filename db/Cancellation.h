#pragma once

#include <mutex>
#include <vector>

namespace db {

namespace detail {
class Handle;
}

// Lets another thread stop one thread's database work at once. The worker makes it current for
// its own thread with a Scope; every statement that thread runs meanwhile registers with it, and
// cancel(), from any thread, marks the work cancelled and calls SQLCancel on each of them (the
// one ODBC call that may be made on a statement another thread is using): a statement waiting
// for the server then fails with the driver's "operation cancelled". A statement or a login
// begun after cancel() fails at once. A login already under way cannot be cut short; the work
// stops once it returns.
class Cancellation {
public:
    Cancellation() = default;
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    void cancel();
    bool cancelled() const;
    // Throws db::Error with kCancelledMessage once cancel() has been called.
    void throwIfCancelled() const;

    // Makes `cancellation` the calling thread's until the scope ends. It must outlive every
    // statement made meanwhile.
    class Scope {
    public:
        explicit Scope(Cancellation& cancellation);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Cancellation* previous_;
    };
    // The calling thread's, or nullptr.
    static Cancellation* current();

private:
    friend class detail::Handle;
    // Throws as throwIfCancelled() does instead of registering once cancelled.
    void attach(void* statement);
    // After this returns, no SQLCancel runs or will run on `statement`.
    void detach(void* statement) noexcept;

    mutable std::mutex mutex_;
    std::vector<void*> statements_;
    bool cancelled_ = false;
};

inline constexpr char16_t kCancelledMessage[] = u"The operation was cancelled.";

} // namespace db
