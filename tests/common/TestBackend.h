#pragma once

#include "db/Connection.h"
#include "db/ConnectionSettings.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <tdsserver/server.h>
#include <vector>

// Where the database tests run: the project's test server always, and a real SQL Server as well
// when TALLOWBY_TEST_SQLSERVER names one.
enum class Backend { TestServer, SqlServer };

inline constexpr const char* kNoRealServer =
    "TALLOWBY_TEST_SQLSERVER is not set: no real SQL Server to test against";

// One database to seed and log in to. A real server is shared with other people and other runs,
// so every table gets this process's suffix and is dropped again when the back end goes.
class TestBackend {
public:
    // The test server's database "shop", listening on 127.0.0.1,port.
    TestBackend(tdsserver::Server& server, std::uint16_t port);
    // The server named by TALLOWBY_TEST_SQLSERVER ("server=host,port;user=NAME;database=NAME")
    // with the password from TALLOWBY_TEST_SQLSERVER_PASSWORD; nullopt when it is not set.
    static std::optional<TestBackend> realServer();

    TestBackend(TestBackend&&) = default;
    TestBackend& operator=(TestBackend&&) = delete;
    ~TestBackend();

    const db::ConnectionSettings& login() const { return login_; }
    bool isTsql() const { return server_ == nullptr; }

    // `base` made unique to this process; the table (or view) of that name is dropped at the end.
    std::string table(const std::string& base);
    // Runs the statements, one after the other, in the back end's database.
    void exec(const std::vector<std::string>& statements);

    // Literals and types where SQLite and T-SQL spell them differently.
    std::string text(const std::string& utf8) const;   // '...' or N'...'
    std::string quoted(const std::string& name) const; // "..." or [...]
    std::string bytes(const std::string& hex) const;   // x'..' or 0x..
    std::string longText() const;                      // nvarchar(max)
    // The text "a", U+D800 alone, "b": what an nvarchar may hold and UTF-8 cannot.
    std::string loneSurrogate() const;

private:
    TestBackend() = default;
    db::Connection& connection();

    tdsserver::Server* server_ = nullptr;
    db::ConnectionSettings login_;
    std::optional<db::Connection> connection_;
    std::vector<std::string> created_;
};

// Gives a fixture built on `Base` (which sets `backend` to its test server in SetUp, then calls
// its seed()) one instance per back end; the real server's is skipped with one line when none is
// named.
template <class Base>
class OnBothBackends : public Base, public testing::WithParamInterface<Backend> {
protected:
    void SetUp() override {
        Base::SetUp();
        if (GetParam() == Backend::SqlServer) {
            std::optional<TestBackend> real = TestBackend::realServer();
            if (!real) {
                GTEST_SKIP() << kNoRealServer;
            }
            this->backend.reset();
            this->backend.emplace(std::move(*real));
            this->seed();
        }
    }
};

std::string backendName(const testing::TestParamInfo<Backend>& param);

#define TALLOWBY_ON_BOTH_BACKENDS(fixture)                                                         \
    INSTANTIATE_TEST_SUITE_P(                                                                      \
        Backends, fixture, testing::Values(Backend::TestServer, Backend::SqlServer), backendName)
