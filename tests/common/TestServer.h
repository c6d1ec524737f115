#pragma once

#include "Printers.h"
#include "TestBackend.h"
#include "db/ConnectionSettings.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <tdsserver/server.h>

// The project's TDS server on 127.0.0.1 with one database, "shop", and the login for it. Every
// test gets a fresh server, so records and faults never leak from one test into the next. The
// server requires encryption (its default), so every test's connection goes through TLS.
// Tests that use only `backend` can run on a real server too (OnBothBackends<ServerTest>).
class ServerTest : public testing::Test {
protected:
    static constexpr std::chrono::seconds kShortTimeout{3};

    explicit ServerTest(tdsserver::Config config = {}) : server(std::move(config)) {}

    void SetUp() override {
        server.addDatabase("shop", ":memory:");
        port = server.start();
        backend.emplace(server, port);
        seed();
    }
    virtual void seed() {}
    void TearDown() override { server.stop(); }

    QString address() const { return QStringLiteral("127.0.0.1,%1").arg(port); }

    db::ConnectionSettings login() const {
        return {address(), QStringLiteral("demo"), QStringLiteral("demo"), QStringLiteral("shop")};
    }

    void sql(const std::string& statements, const std::string& schema = "dbo") {
        server.execSql("shop", statements, schema);
    }

    tdsserver::Server server;
    std::uint16_t port = 0;
    std::optional<TestBackend> backend; // the test server's, or a real one under OnBothBackends
};
