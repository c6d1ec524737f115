#pragma once

#include "CliRunner.h"
#include "TestServer.h"
#include "db/SettingsStore.h"

#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// Each value of the XML as "name=text", or "name nil" for an xsi:nil element, row by row; the
// root must declare the xsi namespace exactly when `nilDeclared`.
inline std::vector<std::vector<std::string>> readValues(const QByteArray& xml, bool nilDeclared) {
    const QString xsi = QStringLiteral("http://www.w3.org/2001/XMLSchema-instance");
    std::vector<std::vector<std::string>> rows;
    QXmlStreamReader reader(xml);
    reader.setNamespaceProcessing(true);
    int depth = 0;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isEndElement()) {
            --depth;
        }
        if (!reader.isStartElement()) {
            continue;
        }
        ++depth;
        if (depth == 1) {
            bool declared = false;
            for (const QXmlStreamNamespaceDeclaration& d : reader.namespaceDeclarations()) {
                declared =
                    declared || (d.prefix() == QLatin1String("xsi") && d.namespaceUri() == xsi);
            }
            EXPECT_EQ(declared, nilDeclared);
        } else if (depth == 2) {
            rows.emplace_back();
        } else {
            const std::string name = reader.name().toString().toStdString();
            const bool nil =
                reader.attributes().value(xsi, QStringLiteral("nil")) == QLatin1String("true");
            const QString text = reader.readElementText();
            --depth;
            EXPECT_TRUE(!nil || text.isEmpty());
            rows.back().push_back(nil ? name + " nil" : name + "=" + text.toStdString());
        }
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    return rows;
}

// The database commands against the test server (or a real one, under OnBothBackends), with
// their own settings folder so that the wizard's stored login is whatever the test writes there.
class DatabaseCommandsTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        trustServerIn(db::TrustedCertificates(db::TrustedCertificates::folderBeside(
            config.filePath(QStringLiteral("Quorvane.conf")))));
    }

    QProcessEnvironment environment(const char* password) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        env.remove(QStringLiteral("TALLOWBY_PASSWORD"));
        if (password != nullptr) {
            env.insert(QStringLiteral("TALLOWBY_PASSWORD"), u(password));
        }
        return env;
    }
    // With the back end's own password.
    QProcessEnvironment environment() const {
        return environment(backend->login().password.toUtf8().constData());
    }

    QStringList loginArgs(const char* command) const {
        const db::ConnectionSettings& settings = backend->login();
        return {u(command),        QStringLiteral("--server"),
                settings.server,   QStringLiteral("--user"),
                settings.user,     QStringLiteral("--database"),
                settings.database, QStringLiteral("--login-timeout=5")};
    }

    void storeLogin(const db::ConnectionSettings& settings) {
        db::SettingsStore store(config.filePath(QStringLiteral("Quorvane.conf")));
        store.save(settings);
    }

    QTemporaryDir config;
};
