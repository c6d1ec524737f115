#include "Fixture.h"
#include "app/Form1.h"
#include "app/Form2.h"
#include "app/Host.h"
#include "app/PushCheckBox.h"
#include "app/ServerTrust.h"
#include "db/TrustedCertificates.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

// The connection page against a server whose certificate the user has not trusted yet.
class UntrustedServer : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        db::TrustedCertificates().remove(db::parseServerAddress(address()));
    }
    bool trusted() const {
        return db::TrustedCertificates().find(db::parseServerAddress(address())).has_value();
    }
    QString fingerprint() const {
        return db::sha256Fingerprint(derOf(testCertificate().certificatePem));
    }
};

TEST_F(UntrustedServer, TestConnectionAsksCancelLeavesThePageAsItWasAndAChangeIsTold) {
    app::Form1& page = start().form1();
    fillIn(page, login());
    press(page.Check5);
    ASSERT_EQ(host.risks.size(), 2u);
    EXPECT_TRUE(host.risks[0].contains(fingerprint())) << host.risks[0].toStdString();
    EXPECT_TRUE(host.risks[0].contains(QStringLiteral("self-signed")));
    EXPECT_EQ(host.risks[1], QString::fromUtf16(app::kTrustCertificate));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_FALSE(trusted());
    EXPECT_TRUE(server.logins().empty());

    host.takeRisk = true;
    press(page.Check5);
    EXPECT_TRUE(trusted());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], QStringLiteral("Connection successful."));
    // Trusted once, asked no more.
    press(page.Check5);
    EXPECT_EQ(host.risks.size(), 4u);
    EXPECT_EQ(host.messages.size(), 2u);

    // A changed certificate is told with both fingerprints on "Next >".
    const tdsserver::Certificate other = tdsserver::makeLocalhostCertificate();
    db::TrustedCertificates().pin(db::parseServerAddress(address()), derOf(other.certificatePem));
    host.takeRisk = false;
    press(page.Check3);
    ASSERT_EQ(host.risks.size(), 6u);
    EXPECT_TRUE(host.risks[4].contains(QStringLiteral("changed since you trusted it")));
    EXPECT_TRUE(host.risks[4].contains(db::sha256Fingerprint(derOf(other.certificatePem))));
    EXPECT_TRUE(host.risks[4].contains(fingerprint()));
    EXPECT_TRUE(page.isVisible());
    EXPECT_EQ(madePage<app::Form2>(), nullptr);
}

TEST_F(UntrustedServer, StoredLoginAsksOnceAndGoesOnWhenTrustedAndEnterNeverTrusts) {
    storeLogin(login());
    host.takeRisk = true;
    start();
    ASSERT_EQ(host.risks.size(), 2u);
    app::Form2* tables = madePage<app::Form2>();
    ASSERT_NE(tables, nullptr);
    EXPECT_TRUE(tables->isVisible());
    EXPECT_FALSE(wizard->form1().isVisible());

    // The real message box, by keys: Enter alone never trusts (Cancel is its default), Escape
    // cancels, and Tab to "Trust This Certificate" then Space trusts.
    app::DesktopHost desktop;
    const QString action = QString::fromUtf16(app::kTrustCertificate);
    // Presses `keys` in the box once it is up; `tabs` Tabs first when it is given.
    const auto answer = [&](int tabs, Qt::Key key) {
        QTimer::singleShot(50, [tabs, key] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            for (int i = 0; i < tabs; ++i)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QTest::keyClick(QApplication::focusWidget(), key);
        });
        return desktop.offerRisk(nullptr, QStringLiteral("question"), action);
    };
    EXPECT_FALSE(answer(0, Qt::Key_Return));
    EXPECT_FALSE(answer(0, Qt::Key_Escape));
    // The focus starts on Cancel; the other button is the next one in the Tab order.
    const bool trustedByKeys = answer(1, Qt::Key_Space);
    EXPECT_TRUE(trustedByKeys);
}

class UnencryptedServer : public WizardTest {
protected:
    UnencryptedServer()
        : WizardTest(
              tdsserver::Config{.encryption = tdsserver::Config::Encryption::None, .log = {}}) {}
};

// Offered for this run only, after saying what it risks; the table list goes the same way.
TEST_F(UnencryptedServer, IsReachedOnlyWhenTheUserChoosesAndOnlyForThisRun) {
    app::Form1& page = start().form1();
    fillIn(page, login());
    press(page.Check3);
    ASSERT_EQ(host.risks.size(), 2u);
    EXPECT_TRUE(host.risks[0].contains(QStringLiteral("readable by anyone on the way")));
    EXPECT_EQ(host.risks[1], QString::fromUtf16(app::kConnectUnencrypted));
    EXPECT_TRUE(server.logins().empty());
    host.takeRisk = true;
    press(page.Check3);
    app::Form2* tables = madePage<app::Form2>();
    ASSERT_NE(tables, nullptr);
    EXPECT_EQ(entries(*tables->List1), strings({"Customers", "Products"}));

    wizard.reset();
    host.risks.clear();
    host.takeRisk = false;
    app::Form1& again = start().form1();
    press(again.Check3);
    // Asked again, for the stored login at start-up and on "Next >": nothing was remembered.
    EXPECT_EQ(host.risks.size(), 4u);
    EXPECT_TRUE(again.isVisible());
}

} // namespace
