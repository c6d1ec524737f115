#include "db/OdbcHandles.h"

#include "db/Cancellation.h"
#include "db/OdbcCall.h"

#include <utility>

namespace db::detail {

Handle::Handle(SQLSMALLINT type, SQLHANDLE parent, SQLSMALLINT parentType) : type_(type) {
    check(SQLAllocHandle(type, parent, &handle_), parentType, parent, "allocating a handle");
}

Handle::~Handle() {
    release();
}

Handle::Handle(Handle&& other) noexcept
    : type_(other.type_), handle_(std::exchange(other.handle_, SQLHANDLE{})),
      cancellation_(std::exchange(other.cancellation_, nullptr)) {}

Handle& Handle::operator=(Handle&& other) noexcept {
    if (this != &other) {
        release();
        type_ = other.type_;
        handle_ = std::exchange(other.handle_, SQLHANDLE{});
        cancellation_ = std::exchange(other.cancellation_, nullptr);
    }
    return *this;
}

void Handle::watchForCancel() {
    Cancellation* cancellation = Cancellation::current();
    if (cancellation == nullptr || cancellation_ != nullptr)
        return;
    cancellation->attach(handle_);
    cancellation_ = cancellation;
}

void Handle::release() noexcept {
    if (cancellation_ != nullptr) {
        cancellation_->detach(handle_);
        cancellation_ = nullptr;
    }
    if (handle_ != SQL_NULL_HANDLE) {
        SQLFreeHandle(type_, handle_);
        handle_ = SQL_NULL_HANDLE;
    }
}

Handle makeEnvironment() {

    Handle env(SQL_HANDLE_ENV, SQL_NULL_HANDLE, SQL_HANDLE_ENV);
    check(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION,
                        reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(SQL_OV_ODBC3)), 0),
          SQL_HANDLE_ENV, env.get(), "choosing ODBC 3");
    return env;
}

ConnectionHandles::ConnectionHandles()
    : env(makeEnvironment()), dbc(SQL_HANDLE_DBC, env.get(), SQL_HANDLE_ENV) {}

ConnectionHandles::~ConnectionHandles() {
    if (connected) {
        SQLDisconnect(dbc.get());
    }
}

} // namespace db::detail
