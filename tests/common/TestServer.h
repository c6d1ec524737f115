#pragma once

#include "Printers.h"
#include "TestBackend.h"
#include "db/ConnectionSettings.h"
#include "db/TrustedCertificates.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <tdsserver/certificate.h>
#include <tdsserver/server.h>

// The certificate every test server of a process presents unless a test gives its own: made
// once, self-signed, as most SQL Server installations have one.
inline const tdsserver::Certificate& testCertificate() {
    static const tdsserver::Certificate certificate = tdsserver::makeLocalhostCertificate();
    return certificate;
}

// The DER bytes of the first certificate in `pem`.
inline QByteArray derOf(const std::string& pem) {
    return db::derFromPem(QByteArray::fromStdString(pem));
}

// The project's TDS server on 127.0.0.1 with one database, "shop", and the login for it. Every
// test gets a fresh server, so records and faults never leak from one test into the next. The
// server requires encryption (its default), so every test's connection goes through TLS.
// Tests that use only `backend` can run on a real server too (OnBothBackends<ServerTest>).
class ServerTest : public testing::Test {
protected:
    static constexpr std::chrono::seconds kShortTimeout{3};

    explicit ServerTest(tdsserver::Config config = {})
        : certificatePem(withCertificate(config)), server(std::move(config)) {}

    void SetUp() override {
        server.addDatabase("shop", ":memory:");
        port = server.start();
        // The user trusted the server's certificate, as the program asks them to once.
        trustServerIn(db::TrustedCertificates());
        backend.emplace(server, port);
        seed();
    }
    virtual void seed() {}
    void TearDown() override { server.stop(); }

    // Gives `config` the test certificate unless it has one; returns the one it has.
    static std::string withCertificate(tdsserver::Config& config) {
        if (config.certificatePem.empty()) {
            config.certificatePem = testCertificate().certificatePem;
            config.privateKeyPem = testCertificate().privateKeyPem;
        }
        return config.certificatePem;
    }

    // Trusts the server's certificate for its address in `store`; tests that run the command
    // line with settings of their own trust it there too.
    void trustServerIn(const db::TrustedCertificates& store) const {
        store.pin(db::parseServerAddress(address()), derOf(certificatePem));
    }

    QString address() const { return QStringLiteral("127.0.0.1,%1").arg(port); }

    db::ConnectionSettings login() const {
        return {address(), QStringLiteral("demo"), QStringLiteral("demo"), QStringLiteral("shop")};
    }

    void sql(const std::string& statements, const std::string& schema = "dbo") {
        server.execSql("shop", statements, schema);
    }

    const std::string certificatePem; // the one the server presents from the start
    tdsserver::Server server;
    std::uint16_t port = 0;
    std::optional<TestBackend> backend; // the test server's, or a real one under OnBothBackends
};
