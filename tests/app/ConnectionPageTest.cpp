#include "Fixture.h"
#include "app/Form1.h"
#include "app/Form2.h"
#include "app/PushCheckBox.h"
#include "app/look/Look.h"
#include "db/Probe.h"

#include <QApplication>
#include <QCloseEvent>
#include <QListWidget>
#include <QTest>

namespace {

class ConnectionPage : public WizardTest {
protected:
    app::Form1& page() {
        start();
        return wizard->form1();
    }
};

// A box does not cut a long stored value (the load would store the cut value back), and every
// change of a box is stored at once.
TEST_F(ConnectionPage, ALongStoredValueSurvivesTheLoadAndEveryChangeIsStoredAtOnce) {
    db::ConnectionSettings settings = login();
    settings.user = QString(40000, QLatin1Char('u')); // no such login: the run stays here
    storeLogin(settings);
    app::Form1& p = page();
    EXPECT_EQ(p.Text2->text().size(), 40000);
    EXPECT_TRUE(db::SettingsStore(storePath()).value(db::SettingKey::User) == settings.user);

    p.Text1->clear();
    p.show();
    QApplication::setActiveWindow(&p);
    p.Text1->setFocus();
    QStringList seen;
    QObject::connect(p.Text1, &QLineEdit::textChanged,
                     [&] { seen << db::SettingsStore(storePath()).value(db::SettingKey::Server); });
    QTest::keyClicks(p.Text1, QStringLiteral("abc"));
    EXPECT_EQ(seen, strings({"a", "ab", "abc"}));

    p.Text3->setText(QStringLiteral("p;w}d"));
    p.Text4->setText(QStringLiteral("x"));
    p.Text4->clear();
    db::SettingsStore reread(storePath());
    EXPECT_EQ(reread.value(db::SettingKey::Server), QStringLiteral("abc"));
    EXPECT_EQ(reread.value(db::SettingKey::Password), QStringLiteral("p;w}d"));
    EXPECT_EQ(reread.value(db::SettingKey::Database), QString());
}

TEST_F(ConnectionPage, ABoxSelectsItsTextOnFocusAndNextWithALoginThatFailsDoesNothing) {
    storeLogin({QStringLiteral("server"), QStringLiteral("user"), QStringLiteral("pw"),
                QStringLiteral("db")});
    app::Form1& p = page();
    QApplication::setActiveWindow(&p);
    EXPECT_EQ(p.focusWidget(), p.Text1);
    p.Text1->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(p.Text1->selectedText(), QStringLiteral("server"));
    p.Text4->setFocus(Qt::OtherFocusReason); // not by Tab: selected all the same
    EXPECT_EQ(p.Text4->selectedText(), QStringLiteral("db"));
    QTest::keyClicks(p.Text4, QStringLiteral("shop"));
    EXPECT_EQ(p.Text4->text(), QStringLiteral("shop"));

    // "Next >" with a login that fails does nothing at all.
    db::ConnectionSettings wrong = login();
    wrong.password = QStringLiteral("wrong");
    fillIn(p, wrong);
    press(p.Check3);
    EXPECT_TRUE(p.isVisible());
    EXPECT_EQ(madePage<app::Form2>(), nullptr);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(p.pointer().setting(), look::Default);

    p.Text3->setText(QStringLiteral("demo"));
    press(p.Check3);
    ASSERT_NE(madePage<app::Form2>(), nullptr);
    EXPECT_TRUE(madePage<app::Form2>()->isVisible());
    EXPECT_FALSE(p.isVisible());
}

TEST_F(ConnectionPage, BackAndNextAgainKeepsTheListEvenForAnotherDatabase) {
    app::Form2& tables = startOnTables();
    tables.List1->setCurrentRow(1);
    press(tables.Check2);
    server.setCatalog("shop", {{"dbo", "Other"}});
    app::Form1& p = wizard->form1();
    p.Text4->setText(QStringLiteral("")); // the login's default database: still connects
    press(p.Check3);
    EXPECT_TRUE(tables.isVisible());
    ASSERT_EQ(tables.List1->count(), 2);
    EXPECT_EQ(tables.List1->item(0)->text(), QStringLiteral("Customers"));
    EXPECT_EQ(tables.List1->currentRow(), 1);
}

// Help shows its message once per press; Test Connection tells its two with the busy pointer
// until each is closed; Cancel or closing the window ends the program, and then nothing runs.
TEST_F(ConnectionPage, HelpTestConnectionAndCancelOnThePage) {
    app::Form1& p = page();
    press(p.Check2);
    press(p.Check2);
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[0], host.messages[1]);
    EXPECT_FALSE(host.messages[0].contains(QLatin1Char('\r')));
    EXPECT_TRUE(host.messages[0].endsWith(QStringLiteral("\n\nfor example, for Server.")));
    EXPECT_EQ(host.messageParents[0], &p);

    host.messages.clear();
    std::vector<int> pointerDuringMessage;
    host.duringMessage = [&] { pointerDuringMessage.push_back(p.pointer().setting()); };
    press(p.Check5); // empty boxes
    fillIn(p, login());
    press(p.Check5);
    EXPECT_EQ(host.messages, (std::vector<QString>{QString::fromUtf16(db::kCouldNotConnect),
                                                   QString::fromUtf16(db::kConnectionSuccessful)}));
    EXPECT_EQ(pointerDuringMessage, (std::vector<int>{look::Busy, look::Busy}));
    EXPECT_EQ(p.pointer().setting(), look::Default);
    EXPECT_TRUE(p.isVisible());
    EXPECT_EQ(madePage<app::Form2>(), nullptr);

    press(p.Check1);
    EXPECT_EQ(host.ends, 1);
    host.duringMessage = nullptr;
    wizard.reset();
    host.messages.clear();
    app::Form1& q = page();
    QCloseEvent close;
    QApplication::sendEvent(&q, &close);
    EXPECT_EQ(host.ends, 2);
    press(q.Check2);
    EXPECT_TRUE(host.messages.empty());
}

} // namespace
