#include "CancelledProgram.h"

#include "app/Form1.h"
#include "app/Form2.h"
#include "app/Program.h"
#include "app/PushCheckBox.h"
#include "db/SettingsStore.h"
#include "db/TrustedCertificates.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace cancelled {

namespace {

constexpr std::chrono::milliseconds kBeforeCancel{300};
// The child gives up on a page that never comes.
constexpr std::chrono::seconds kChildLimit{30};

std::chrono::nanoseconds now() {
    return std::chrono::steady_clock::now().time_since_epoch();
}

template <class Page>
Page* visiblePage() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* page = dynamic_cast<Page*>(window); page != nullptr && page->isVisible())
            return page;
    }
    return nullptr;
}

// While the press of "Next >" has not returned.
bool waiting = false;

// "Next >", and "Cancel" `kBeforeCancel` later while it runs, with the moment of the press on
// standard output (steady_clock, which every process of the machine shares), and whether the
// wizard was still waiting then.
void next(QWidget* page, QWidget* cancel, QWidget* next,
          const std::function<void()>& beforeCancel = {}) {
    QTimer::singleShot(kBeforeCancel, page, [cancel, beforeCancel] {
        if (beforeCancel)
            beforeCancel();
        std::printf("pressed %lld %s\n", static_cast<long long>(now().count()),
                    waiting ? "waiting" : "idle");
        std::fflush(stdout);
        QTest::mouseClick(cancel, Qt::LeftButton);
    });
    waiting = true;
    QTest::mouseClick(next, Qt::LeftButton);
    waiting = false;
}

} // namespace

void storeSettings(const QString& folder, const db::ConnectionSettings& login,
                   const QString& server, const QByteArray& der) {
    const QString file = QDir(folder).filePath(QStringLiteral("Quorvane.conf"));
    db::SettingsStore(file).save(login);
    db::TrustedCertificates(db::TrustedCertificates::folderBeside(file))
        .pin(db::parseServerAddress(server), der);
}

db::ConnectionSettings failingAtOnce(db::ConnectionSettings login) {
    login.server = QStringLiteral("127.0.0.1,1");
    return login;
}

Outcome run(const QString& executable, Wait wait, const QString& value, const QString& folder,
            std::chrono::milliseconds limit, const QString& passwordBeforeCancel) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder);
    // The driver's configuration then goes beside the settings, where a test can look for it.
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments{QString::fromLatin1(kChildFlag),
                          wait == Wait::Login ? QStringLiteral("login") : QStringLiteral("rows"),
                          value};
    if (!passwordBeforeCancel.isNull())
        arguments << passwordBeforeCancel;
    child.start(executable, arguments);
    Outcome outcome;
    if (!child.waitForStarted(10'000)) {
        outcome.output = child.errorString();
        return outcome;
    }
    // The child's start-up and its wait before the press, then the limit.
    outcome.ended = child.waitForFinished(
        static_cast<int>((std::chrono::milliseconds(kChildLimit) + limit).count()));
    const std::chrono::nanoseconds end = now();
    if (!outcome.ended) {
        child.kill();
        child.waitForFinished(10'000);
    }
    outcome.output = QString::fromLocal8Bit(child.readAll());
    outcome.exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    for (const QString& line : outcome.output.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("pressed ")))
            continue;
        const QStringList words = line.split(QLatin1Char(' '));
        const std::chrono::nanoseconds pressed{words.value(1).toLongLong()};
        outcome.pressedWhileWaiting = words.value(2) == QLatin1String("waiting");
        outcome.pressToEnd = std::chrono::duration_cast<std::chrono::microseconds>(end - pressed);
        if (*outcome.pressToEnd > limit)
            outcome.ended = false;
    }
    return outcome;
}

int runChild(const QStringList& arguments) {
    if (arguments.size() < 4) {
        std::fputs("usage: --run-program-and-cancel login SERVER [PASSWORD] | rows TABLE\n",
                   stderr);
        return 2;
    }
    const bool login = arguments[2] == QLatin1String("login");
    const QString value = arguments[3];
    // The user: waits for the page, fills it in, presses "Next >", then "Cancel".
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, &user, [&] {
        if (login) {
            app::Form1* page = visiblePage<app::Form1>();
            if (page == nullptr)
                return;
            user.stop();
            page->Text1->setText(value);
            const QString password = arguments.value(4);
            next(page, page->Check1, page->Check3, [page, password] {
                if (!password.isNull())
                    page->Text3->setText(password);
            });
            return;
        }
        app::Form2* page = visiblePage<app::Form2>();
        if (page == nullptr)
            return;
        const QList<QListWidgetItem*> found = page->List1->findItems(value, Qt::MatchExactly);
        if (found.isEmpty())
            return;
        user.stop();
        page->List1->setCurrentItem(found.constFirst());
        next(page, page->Check1, page->Check3);
    });
    user.start(10);
    QTimer::singleShot(kChildLimit, [] {
        std::fputs("the page to press on never came\n", stderr);
        std::_Exit(3);
    });
    return app::runProgram();
}

} // namespace cancelled
