#include "app/Form1.h"

#include "app/Design.h"
#include "app/Form2.h"
#include "app/Host.h"
#include "app/PushCheckBox.h"
#include "app/Wizard.h"
#include "app/look/Look.h"
#include "db/Probe.h"
#include "db/SettingsStore.h"

#include <QFrame>
#include <QLabel>
#include <limits>
#include <memory>

namespace app {

using design::twips;

Form1::Form1(Wizard& wizard)
    : Page(wizard, QStringLiteral("Form1"), QStringLiteral("Setup Connections"), 5895, 3525,
           false) {
    Label5 = design::label(
        this, QStringLiteral("Label5"),
        QStringLiteral(" Please provide the login information for your MS SQL Server db."),
        twips(120, 120, 5535, 255));
    Label2 = design::label(this, QStringLiteral("Label2"), QStringLiteral("Server:"),
                           twips(240, 525, 1095, 255));
    Text1 = design::textBox<SelectAllLineEdit>(this, QStringLiteral("Text1"), QString(),
                                               twips(1320, 480, 4455, 330));
    Label1 = design::label(this, QStringLiteral("Label1"), QStringLiteral("Username:"),
                           twips(240, 1005, 1095, 255));
    Text2 = design::textBox<SelectAllLineEdit>(this, QStringLiteral("Text2"), QString(),
                                               twips(1320, 960, 4455, 330));
    Label4 = design::label(this, QStringLiteral("Label4"), QStringLiteral("Password:"),
                           twips(240, 1485, 1095, 255));
    Text3 = design::textBox<SelectAllLineEdit>(this, QStringLiteral("Text3"), QString(),
                                               twips(1320, 1440, 4455, 330));
    Text3->setEchoMode(QLineEdit::Password);
    // One "*" per character, whatever the style's own mask character is.
    Text3->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    Text3->setAttribute(Qt::WA_InputMethodEnabled, false);
    Label3 = design::label(this, QStringLiteral("Label3"), QStringLiteral("Database:"),
                           twips(240, 1965, 975, 255));
    Text4 = design::textBox<SelectAllLineEdit>(this, QStringLiteral("Text4"), QString(),
                                               twips(1320, 1920, 4455, 330));
    Check5 = design::button(this, QStringLiteral("Check5"), QStringLiteral("Test Connection"),
                            twips(120, 2400, 4215, 375));
    Check2 = design::button(this, QStringLiteral("Check2"), QStringLiteral("Help"),
                            twips(4440, 2400, 1335, 375));
    buttonRow(3000, {"Check1", "Check4", "Check3", "Check6"}, Line1, Check1, Check4, Check3,
              Check6);
    Check4->setEnabled(false);
    Check6->setEnabled(false);

    Label2->setBuddy(Text1);
    Label1->setBuddy(Text2);
    Label4->setBuddy(Text3);
    Label3->setBuddy(Text4);

    tabOrder({Text1, Text2, Text3, Text4, Check5, Check1, Check3, Check6, Check4, Check2});
    Text1->setFocus();
    // QLineEdit cuts at 32,767 characters by default, and the cut text would be stored back on
    // load: a stored value must come through whole.
    for (QLineEdit* box : {Text1, Text2, Text3, Text4})
        box->setMaxLength(std::numeric_limits<int>::max());

    // Every change of a box, the loading included, reaches the store at once.
    const auto keep = [this](SelectAllLineEdit* box, db::SettingKey key) {
        connect(box, &QLineEdit::textChanged, this,
                [this, key](const QString& text) { wizard_.store().setValue(key, text); });
    };
    keep(Text1, db::SettingKey::Server);
    keep(Text2, db::SettingKey::User);
    keep(Text3, db::SettingKey::Password);
    keep(Text4, db::SettingKey::Database);

    onPress(Check2, [this] { help(); });
    onPress(Check3, [this] { next(); });
    onPress(Check5, [this] { testConnection(); });

    for (QWidget* control : std::initializer_list<QWidget*>{this, Text1, Text2, Text3, Text4})
        pointer_->bind(control, look::Default);
    for (QWidget* button : {Check2, Check5})
        pointer_->bind(button, look::Custom);
}

void Form1::load() {
    loadLook();
    visitHomePageByChance();
    db::SettingsStore& store = wizard_.store();
    Text1->setText(store.value(db::SettingKey::Server));
    Text2->setText(store.value(db::SettingKey::User));
    Text3->setText(store.value(db::SettingKey::Password));
    Text4->setText(store.value(db::SettingKey::Database));
}

// One start in a hundred, on average, opens our home page.
void Form1::visitHomePageByChance() {
    const int n = static_cast<int>(wizard_.host().randomUnit() * 100) + 1;
    if (n == 7)
        wizard_.host().openUrl(QUrl(QString::fromUtf8(kHomePage)));
}

db::ConnectionSettings Form1::settings() const {
    return wizard_.withRunChoices({Text1->text(), Text2->text(), Text3->text(), Text4->text()});
}

void Form1::next() {
    db::LoginAttempt attempt = wizard_.tryLogin(settings());
    if (!attempt.ok && attempt.certificate && wizard_.settleTrust(this, *attempt.certificate))
        attempt = wizard_.tryLogin(settings());
    if (attempt.ok)
        wizard_.move(*this, wizard_.form2());
}

void Form1::testConnection() {
    pointer_->setSetting(look::Busy);
    const auto test = [this] {
        auto result = std::make_shared<db::ConnectionTestResult>();
        wizard_.runDatabaseWork(
            [result, login = settings(), timeout = wizard_.loginTimeout()](db::Progress&) {
                *result = db::testConnection(login, timeout);
            });
        return *result;
    };
    db::ConnectionTestResult result = test();
    if (result.certificate) {
        // The login was not sent: the user decides, and Cancel leaves the page as it was.
        if (!wizard_.settleTrust(this, *result.certificate)) {
            pointer_->setSetting(look::Default);
            return;
        }
        result = test();
    }
    wizard_.host().showMessage(this, result.message);
    pointer_->setSetting(look::Default);
}

void Form1::help() {
    // The message breaks its lines with single carriage returns.
    QString text = db::helpMessage();
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    wizard_.host().showMessage(this, text);
}

} // namespace app
