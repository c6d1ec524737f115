#include "Fixture.h"
#include "app/DatabaseTask.h"
#include "app/Form1.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/PushCheckBox.h"
#include "app/TextEditor.h"
#include "app/look/Look.h"
#include "convert/ConvertTextToXml.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListWidget>
#include <QProgressBar>
#include <QThread>
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

    // Presses "Next >", and "Cancel" 150 ms later: the time since the cancel.
    static QElapsedTimer cancelledExport(app::Form2& tables) {
        QElapsedTimer sinceCancel;
        QTimer cancel; // gone with the call, should the export end first
        cancel.setSingleShot(true);
        QObject::connect(&cancel, &QTimer::timeout, [&] {
            sinceCancel.start();
            press(tables.Check1);
        });
        cancel.start(150);
        press(tables.Check3);
        return sinceCancel;
    }

    bool ranDuringOperation = false;
    QObject timers_;
};

TEST_F(LongOperation, OtherPressesDuringAnExportAreIgnored) {
    app::Form2& tables = startOnTables();
    tables.List1->setCurrentRow(0); // Big
    int pointerDuring = -1;
    whileRunning([&] {
        pointerDuring = tables.pointer().setting();
        press(tables.Check2);           // "< Back"
        press(tables.Check3);           // "Next >" again
        press(wizard->form1().Check2);  // "Help" of the hidden connection page
        press(wizard->form3().Check17); // "Refresh"
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

TEST_F(LongOperation, ClosingAPageDuringTheListingEndsTheProgram) {
    std::vector<tdsserver::CatalogEntry> many;
    for (int i = 0; i < 20000; ++i)
        many.push_back({"dbo", "T" + std::to_string(i)});
    server.setCatalog("shop", many);
    make();
    app::Form1& connection = wizard->form1();
    fillIn(connection, login());
    whileRunning(
        [&] {
            QCloseEvent close;
            QApplication::sendEvent(&connection, &close);
        },
        [&] { return madePage<app::Form2>() != nullptr; });
    press(connection.Check3);
    EXPECT_TRUE(ranDuringOperation);
    EXPECT_EQ(host.ends, 1);
    ASSERT_NE(madePage<app::Form2>(), nullptr);
    EXPECT_FALSE(madePage<app::Form2>()->isVisible());
    EXPECT_LT(madePage<app::Form2>()->List1->count(), 20000);
}

// A window frozen by either wait would go a whole second without a turn of its event loop; the
// loop's own figure (a few milliseconds) is the benchmark's to hold.
TEST_F(LongOperation, TheWindowStaysLiveWhileTheServerIsSlowToLogInAndToSendItsFirstRow) {
    server.loginDelay(std::chrono::milliseconds(1000));
    server.firstRowDelay(std::chrono::milliseconds(1000));
    storeLogin(login());
    make();
    wizard->form1(); // its making is not what is measured
    // The longest time between two turns, measured by a timer that asks to run every 5 ms.
    qint64 longestGap = 0;
    QElapsedTimer sinceTurn;
    QTimer turns;
    turns.setTimerType(Qt::PreciseTimer);
    QObject::connect(&turns, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTurn.restart()); });
    sinceTurn.start();
    turns.start(5);
    wizard->start(); // the login probe, then the listing
    ASSERT_NE(madePage<app::Form2>(), nullptr);
    app::Form2& tables = *madePage<app::Form2>();
    ASSERT_EQ(tables.List1->count(), 3);
    tables.List1->setCurrentRow(2); // Products
    press(tables.Check3);
    ASSERT_TRUE(wizard->form3().isVisible());
    EXPECT_TRUE(wizard->form3().previewText().starts_with(
        "<XML>\r\n <row>\r\n  <code>A1</code>\r\n  <price>10</price>"));
    EXPECT_LT(std::max(longestGap, sinceTurn.elapsed()), 600);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(LongOperation, CancelWhileTheServerHoldsBackItsFirstRowStopsTheQueryAtOnce) {
    app::Form2& tables = startOnTables();
    server.firstRowDelay(std::chrono::seconds(4));
    const QElapsedTimer sinceCancel = cancelledExport(tables);
    ASSERT_TRUE(sinceCancel.isValid());
    EXPECT_EQ(host.ends, 1);
    EXPECT_FALSE(wizard->form3().isVisible());
    EXPECT_TRUE(wizard->form3().Text1->bytes().empty());
    EXPECT_TRUE(wizard->form3().previewText().empty());
    EXPECT_FALSE(wizard->busy());
    // Nothing runs any more.
    press(tables.Check3);
    EXPECT_EQ(host.ends, 1);
    EXPECT_TRUE(host.messages.empty());
    // The wizard waits for its database thread as it goes: the cancelled query has ended.
    wizard.reset();
    // Ended by the cancel, not by the first row: that comes only after 4 s.
    EXPECT_LT(sinceCancel.elapsed(), 2000);
    EXPECT_GE(server.attentions(), 1u);
}

// The XML is made away from the window's thread: the preview keeps its old text, whole and
// unchanged, until the new one is complete, while the window stays live and other presses wait.
TEST_F(LongOperation, ThePreviewKeepsItsTextDuringARefreshAndThenShowsTheWholeConversion) {
    app::Form2& tables = startOnTables();
    press(tables.Check3);
    app::Form3& o = wizard->form3();
    const std::string before(o.previewText());
    std::string text = "id,name";
    for (int i = 0; i < 200'000; ++i)
        text += "\r\n" + std::to_string(i) + ",name " + std::to_string(i);
    o.setDelimitedText(text);

    int turns = 0;
    bool unchanged = true;
    std::vector<int> progress;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (!wizard->busy())
            return;
        ++turns;
        unchanged = unchanged && o.previewText() == before && o.Text1->bytes() == text;
        progress.push_back(o.ProgressBar1->value());
        press(o.Check17); // a second Refresh inside the first one: ignored
        press(o.Check7);  // "Next >": ignored
        press(o.Check5);  // "Clear": ignored, the text stays put
    });
    sampler.start(0);
    press(o.Check17);
    sampler.stop();

    EXPECT_GE(turns, 2);
    EXPECT_TRUE(unchanged);
    EXPECT_TRUE(std::any_of(progress.begin(), progress.end(), [](int v) { return v > 0; }));
    EXPECT_EQ(o.ProgressBar1->value(), 0);
    CSVXML::StringSink whole;
    CSVXML::ConvertTextToXml(text, o.options(), whole);
    EXPECT_EQ(o.previewText(), whole.text);
    EXPECT_EQ(wizard->existingForm4(), nullptr);
    EXPECT_TRUE(o.isVisible());
    // The run left no undo history: the new text cannot be undone into the old one.
    EXPECT_FALSE(o.RichTextBox1->isUndoAvailable());
}

TEST(DatabaseTask, ReportsProgressToTheWindowsThreadAtABoundedRate) {
    constexpr std::int64_t kSteps = 2'000'000;
    app::DatabaseTask task([](db::Progress& progress) {
        progress.start(kSteps);
        for (std::int64_t done = 1; done <= kSteps; ++done) {
            progress.serve();
            progress.step(done);
        }
        progress.end();
    });
    std::vector<qint64> reports;
    bool elsewhere = false;
    QObject::connect(&task, &app::DatabaseTask::progressed, &task, [&](qint64 done, qint64 steps) {
        elsewhere = elsewhere || QThread::currentThread() != qApp->thread() || steps != kSteps;
        reports.push_back(done);
    });
    QEventLoop loop;
    QObject::connect(&task, &app::DatabaseTask::finished, &loop, &QEventLoop::quit);
    QElapsedTimer took;
    took.start();
    task.start();
    loop.exec();

    EXPECT_FALSE(elsewhere);
    // At most one report per percent and one per interval, the first and the last.
    EXPECT_LE(qint64(reports.size()),
              100 + took.elapsed() / app::DatabaseTask::kProgressIntervalMs + 2);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), kSteps);
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
}

} // namespace
