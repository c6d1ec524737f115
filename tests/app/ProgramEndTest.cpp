#include "CancelledProgram.h"
#include "TestServer.h"
#include "db/DriverSetup.h"
#include "db/SettingsStore.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstring>

namespace {

using cancelled::Wait;

// The whole program in a child process: "Cancel" while the server does not answer ends the
// process at once, not when the driver gives up (15 s for a login, 30 s for a query). The
// benchmark holds the time to its figure; here it only has to be far below the time-outs.
class ProgramEnd : public ServerTest {
protected:
    void seed() override {
        sql("CREATE TABLE Big (id int, name [nvarchar(50)]);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000)"
            " INSERT INTO Big SELECT i, 'name ' || i FROM n;");
    }

    cancelled::Outcome cancelledAt(Wait wait, const QString& value,
                                   const db::ConnectionSettings& stored) {
        cancelled::storeSettings(folder.path(), stored, address(), derOf(certificatePem));
        return cancelled::run(QCoreApplication::applicationFilePath(), wait, value, folder.path(),
                              kLimit);
    }

    QString stored(db::SettingKey key) const {
        return db::SettingsStore(QDir(folder.path()).filePath(QStringLiteral("Quorvane.conf")))
            .value(key);
    }

    static void expectEndedAtOnce(const cancelled::Outcome& outcome) {
        ASSERT_TRUE(outcome.pressToEnd.has_value()) << outcome.output.toStdString();
        EXPECT_TRUE(outcome.pressedWhileWaiting) << outcome.output.toStdString();
        EXPECT_TRUE(outcome.ended) << outcome.pressToEnd->count() / 1000 << " ms after the press\n"
                                   << outcome.output.toStdString();
        EXPECT_EQ(outcome.exitCode, 0) << outcome.output.toStdString();
    }

    // The driver's configuration of the child goes with it, however it ended.
    void expectNoDriverConfigurationLeft() const {
        const QDir driver(folder.filePath(QStringLiteral("Quorvane-driver")));
        EXPECT_TRUE(driver.exists());
        EXPECT_EQ(driver.entryList({QStringLiteral("freetds-*.conf")}, QDir::Files), QStringList());
    }

    static constexpr std::chrono::milliseconds kLimit{2000};
    QTemporaryDir folder;
};

TEST_F(ProgramEnd, CancelDuringALoginThatIsNeverAnsweredEndsTheProcessAndKeepsWhatWasTyped) {
    server.neverAnswer(true);
    expectEndedAtOnce(cancelledAt(Wait::Login, address(), cancelled::failingAtOnce(login())));
    // The box's value reached the file as it was typed, and the quick end kept it.
    EXPECT_EQ(stored(db::SettingKey::Server), address());
    EXPECT_EQ(stored(db::SettingKey::Password), QStringLiteral("demo"));
}

// While rows stream the cancel ends the process both when the server answers it (and the cancel
// reaches the server first) and when the server has stopped.
TEST_F(ProgramEnd, CancelWhileRowsStreamEndsTheProcessWhetherTheServerAnswersOrHasStopped) {
    server.firstRowDelay(std::chrono::seconds(5));
    expectEndedAtOnce(cancelledAt(Wait::Rows, QStringLiteral("Big"), login()));
    EXPECT_GE(server.attentions(), 1u);
    expectNoDriverConfigurationLeft();

    // The table's query stops after its first thousand rows; the listing's results are smaller.
    server.firstRowDelay(std::chrono::milliseconds(0));
    server.stallAfterRows(1000);
    expectEndedAtOnce(cancelledAt(Wait::Rows, QStringLiteral("Big"), login()));
    server.stallAfterRows(-1);
    expectNoDriverConfigurationLeft();
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc >= 2 && std::strcmp(argv[1], cancelled::kChildFlag) == 0) {
        db::prepareDriverEnvironment();
        QApplication application(argc, argv);
        return cancelled::runChild(QCoreApplication::arguments());
    }
    testing::InitGoogleTest(&argc, argv);
    db::prepareDriverEnvironment();
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
