#pragma once

#include "CliRunner.h"
#include "db/SettingsStore.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <tdsserver/server.h>

inline QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The database commands against the test server, with their own settings folder so that the
// wizard's stored login is whatever the test writes there.
class DatabaseCommandsTest : public testing::Test {
protected:
    void SetUp() override {
        server.addDatabase("shop", ":memory:");
        port = server.start();
    }
    void TearDown() override { server.stop(); }

    QString address() const { return QStringLiteral("127.0.0.1,%1").arg(port); }

    QProcessEnvironment environment(const char* password) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        env.remove(QStringLiteral("TALLOWBY_PASSWORD"));
        if (password != nullptr) {
            env.insert(QStringLiteral("TALLOWBY_PASSWORD"), u(password));
        }
        return env;
    }

    QStringList loginArgs(const char* command) const {
        return {u(command),
                QStringLiteral("--server"),
                address(),
                QStringLiteral("--user=demo"),
                QStringLiteral("--database"),
                QStringLiteral("shop"),
                QStringLiteral("--login-timeout=3")};
    }

    void storeLogin(const db::ConnectionSettings& settings) {
        db::SettingsStore store(config.filePath(QStringLiteral("Quorvane.conf")));
        store.save(settings);
    }

    tdsserver::Server server;
    std::uint16_t port = 0;
    QTemporaryDir config;
};
