#include "Fixture.h"
#include "app/Form1.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/PushCheckBox.h"
#include "app/look/Look.h"
#include "db/Probe.h"

#include <QListWidget>

namespace {

using StartUp = WizardTest;

TEST_F(StartUp, AStoredLoginThatWorksOpensOnTheFilledTablePage) {
    storeLogin(login());
    // No keyring answers in this session: the file keeps the password, as the other values.
    EXPECT_TRUE(readFile(storePath()).contains("\nMyPassword=demo\n"));
    app::Wizard& w = start();

    ASSERT_NE(madePage<app::Form2>(), nullptr);
    app::Form2& tables = *madePage<app::Form2>();
    EXPECT_TRUE(tables.isVisible());
    EXPECT_FALSE(w.form1().isVisible());
    EXPECT_EQ(entries(*tables.List1), (strings({"Customers", "Products"})));
    EXPECT_TRUE(tables.List1->item(0)->isSelected());
    EXPECT_EQ(tables.pointer().setting(), look::Default);
    // The options page exists, hidden and enabled again; the output page does not yet.
    ASSERT_NE(madePage<app::Form3>(), nullptr);
    EXPECT_FALSE(madePage<app::Form3>()->isVisible());
    EXPECT_TRUE(madePage<app::Form3>()->isEnabled());
    EXPECT_EQ(w.existingForm4(), nullptr);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(StartUp,
       AnEmptyStoreOrALoginThatFailsShowsTheConnectionPageSilentlyAndTheHomePageOnlyOnASeven) {
    for (const db::ConnectionSettings& stored :
         {db::ConnectionSettings{},
          db::ConnectionSettings{login().server, QStringLiteral("demo"), QStringLiteral("wrong"),
                                 QStringLiteral("shop")}}) {
        storeLogin(stored);
        app::Wizard& w = start();
        EXPECT_TRUE(w.form1().isVisible());
        EXPECT_EQ(madePage<app::Form2>(), nullptr);
        EXPECT_EQ(w.form1().settings(), stored);
        EXPECT_TRUE(host.messages.empty());
        EXPECT_EQ(host.ends, 0);
        // The first box has the focus with its text selected.
        EXPECT_EQ(w.form1().focusWidget(), w.form1().Text1);
        wizard.reset();
    }

    // The home page is visited only when the draw gives seven.
    const struct {
        double draw;
        bool visit;
    } cases[] = {{0.0, false},   {0.0599, false}, {0.06, true},
                 {0.0699, true}, {0.07, false},   {0.999, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.draw);
        host.opened.clear();
        host.random = c.draw;
        start();
        if (c.visit) {
            ASSERT_EQ(host.opened.size(), 1u);
            EXPECT_EQ(host.opened[0], QUrl(QString::fromUtf8(app::kHomePage)));
        } else {
            EXPECT_TRUE(host.opened.empty());
        }
        wizard.reset();
    }
}

TEST_F(StartUp, TheListingFailingShowsTheDriversMessageAndLeavesThePageUsable) {
    storeLogin(login());
    server.dropAfterRows(0); // the login works, the catalogue breaks off
    app::Wizard& w = start();
    ASSERT_NE(madePage<app::Form2>(), nullptr);
    app::Form2& tables = *madePage<app::Form2>();
    EXPECT_TRUE(tables.isVisible());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_FALSE(host.messages[0].isEmpty());
    EXPECT_EQ(tables.List1->count(), 0);
    EXPECT_EQ(tables.pointer().setting(), look::Default);
    EXPECT_TRUE(w.form3().isEnabled());
    server.dropAfterRows(-1);

    WizardTest::press(tables.Check3); // nothing to export
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[1], QStringLiteral("Please select a table"));
}

} // namespace
