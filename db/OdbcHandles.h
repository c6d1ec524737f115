#pragma once

// Internal to the database layer: owners of the ODBC handles.

#include <sql.h>
#include <sqlext.h>

namespace db {
class Cancellation;
}

namespace db::detail {

// Owns one ODBC handle of any kind and frees it on every path. Allocation failures throw
// OdbcError with the parent's diagnostics.
class Handle {
public:
    Handle(SQLSMALLINT type, SQLHANDLE parent, SQLSMALLINT parentType);
    ~Handle();
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept;
    Handle& operator=(Handle&& other) noexcept;

    SQLHANDLE get() const { return handle_; }
    SQLSMALLINT type() const { return type_; }

    // For a statement: registers it with the calling thread's Cancellation, if any, until it is
    // freed. Throws db::Error when that work has been cancelled already.
    void watchForCancel();

private:
    void release() noexcept;

    SQLSMALLINT type_;
    SQLHANDLE handle_ = nullptr;
    Cancellation* cancellation_ = nullptr;
};

// An ODBC 3 environment with the protocol pinned (see TdsVersion.h) before it is created.
Handle makeEnvironment();

// The environment and connection handles of one open connection. Shared by the Connection and
// every ResultSet made on it, so that a statement can never outlive the connection it runs on.
struct ConnectionHandles {
    ConnectionHandles();
    ~ConnectionHandles();
    ConnectionHandles(const ConnectionHandles&) = delete;
    ConnectionHandles& operator=(const ConnectionHandles&) = delete;

    Handle env;
    Handle dbc;
    bool connected = false;
    SQLULEN queryTimeoutSeconds = 30; // given to every statement on this connection
};

} // namespace db::detail
