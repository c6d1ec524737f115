#include "Fixture.h"
#include "app/Form1.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/PushCheckBox.h"
#include "app/TextEditor.h"
#include "app/look/Look.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QListWidget>
#include <QProgressBar>
#include <QTimer>

namespace {

// The window system's events during the long operations: presses of other buttons are
// ignored, "Cancel" and closing end the program at once, and the pages stay live.
class LongOperation : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        sql("CREATE TABLE Big (id int, name [nvarchar(50)], note [nvarchar(50)]);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000)"
            " INSERT INTO Big SELECT i, 'name ' || i, 'a note of some length' FROM n;");
    }

    // Runs `during` once, the first time the running operation serves the window system with
    // `ready` true.
    void whileRunning(std::function<void()> during, std::function<bool()> ready = {}) {
        auto* poll = new QTimer(&timers_);
        QObject::connect(poll, &QTimer::timeout, poll, [=, this] {
            if (ready && !ready())
                return;
            poll->stop();
            ranDuringOperation = wizard && wizard->busy();
            during();
        });
        poll->start(0);
    }

    bool ranDuringOperation = false;
    QObject timers_;
};

TEST_F(LongOperation, OtherPressesDuringAnExportAreIgnored) {
    app::Form2& tables = startOnTables();
    tables.List1->setCurrentRow(0); // Big
    ASSERT_EQ(tables.List1->currentItem()->text(), QStringLiteral("Big"));
    int pointerDuring = -1;
    whileRunning([&] {
        pointerDuring = tables.pointer().setting();
        press(tables.Check2);           // "< Back"
        press(tables.Check3);           // "Next >" again
        press(wizard->form1().Check2);  // "Help" of the hidden connection page
        press(wizard->form3().Check17); // "Refresh"
        EXPECT_FALSE(tables.Check2->isChecked());
    });
    press(tables.Check3);
    EXPECT_TRUE(ranDuringOperation);
    EXPECT_EQ(pointerDuring, look::Busy);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(wizard->form3().isVisible());
    EXPECT_FALSE(wizard->form1().isVisible());
    EXPECT_FALSE(tables.isVisible());
    EXPECT_EQ(wizard->form3().RichTextBox1->lines(), 1 + 20000 * 5 + 1);
    EXPECT_EQ(host.ends, 0);
    EXPECT_FALSE(wizard->busy());
}

TEST_F(LongOperation, CancelDuringAnExportEndsTheProgramAtOnce) {
    app::Form2& tables = startOnTables();
    whileRunning([&] { press(tables.Check1); });
    press(tables.Check3);
    EXPECT_TRUE(ranDuringOperation);
    EXPECT_EQ(host.ends, 1);
    EXPECT_FALSE(wizard->form3().isVisible());
    EXPECT_TRUE(wizard->form3().previewText().empty());
    EXPECT_TRUE(wizard->ended());
    EXPECT_FALSE(wizard->busy());
    // Nothing runs any more.
    press(tables.Check3);
    EXPECT_EQ(host.ends, 1);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(LongOperation, ClosingAPageDuringTheListingEndsTheProgram) {
    std::vector<tdsserver::CatalogEntry> many;
    for (int i = 0; i < 20000; ++i)
        many.push_back({"dbo", "T" + std::to_string(i)});
    server.setCatalog("shop", many);
    wizard = std::make_unique<app::Wizard>(host, *store, kTimeout);
    app::Form1& connection = wizard->form1();
    fillIn(connection, login());
    whileRunning(
        [&] {
            QCloseEvent close;
            QApplication::sendEvent(&connection, &close);
        },
        [&] { return wizard->existingForm2() != nullptr; });
    press(connection.Check3);
    EXPECT_TRUE(ranDuringOperation);
    EXPECT_EQ(host.ends, 1);
    ASSERT_NE(wizard->existingForm2(), nullptr);
    EXPECT_FALSE(wizard->existingForm2()->isVisible());
    EXPECT_LT(wizard->existingForm2()->List1->count(), 20000);
}

TEST_F(LongOperation, ThePreviewGrowsDuringARefreshAndEndsAsOneConversionWouldLeaveIt) {
    app::Form2& tables = startOnTables();
    press(tables.Check3);
    app::Form3& o = wizard->form3();
    const std::string whole(o.previewText());

    std::vector<int> blocks;
    std::vector<int> progress;
    std::vector<bool> nextEnabled;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (!wizard->busy())
            return;
        blocks.push_back(o.RichTextBox1->lines());
        // The first few turns take the wizard's whole service interval, so that the run is
        // served again at its next row however fast the machine converts.
        if (blocks.size() <= 3) {
            QElapsedTimer busy;
            busy.start();
            while (busy.elapsed() <= app::Wizard::kServiceInterval.count()) {
            }
        }
        progress.push_back(o.ProgressBar1->value());
        nextEnabled.push_back(o.Check7->isEnabled());
        press(o.Check17); // a second Refresh inside the first one: ignored
        press(o.Check7);  // "Next >": ignored
    });
    sampler.start(0);
    // Likewise before the run: its first row is then served at once.
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() <= app::Wizard::kServiceInterval.count()) {
    }
    press(o.Check17);
    sampler.stop();

    ASSERT_GE(blocks.size(), 2u);
    const int total = o.RichTextBox1->lines();
    EXPECT_TRUE(
        std::any_of(blocks.begin(), blocks.end(), [&](int n) { return n > 1 && n < total; }));
    EXPECT_TRUE(std::is_sorted(blocks.begin(), blocks.end()));
    EXPECT_TRUE(std::any_of(progress.begin(), progress.end(), [](int v) { return v > 0; }));
    EXPECT_EQ(o.ProgressBar1->value(), 0);
    EXPECT_EQ(o.previewText(), whole);
    EXPECT_EQ(wizard->existingForm4(), nullptr);
    EXPECT_TRUE(o.isVisible());
    EXPECT_FALSE(o.RichTextBox1->isReadOnly());
    // The preview can be undone to nothing of the run: the run left no undo history.
    EXPECT_FALSE(o.RichTextBox1->isUndoAvailable());
}

} // namespace
