#include "Fixture.h"

#include "app/Form1.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/PushCheckBox.h"
#include "convert/ConvertTextToXml.h"
#include "convert/ExtractTableText.h"
#include "output/OutputStream.h"
#include "output/XmlFile.h"

#include <QListWidget>
#include <QTest>

void RecordingHost::showMessage(QWidget* parent, const QString& text) {
    messages.push_back(text);
    messageParents.push_back(parent);
    if (duringMessage)
        duringMessage();
}

bool RecordingHost::askYesNo(QWidget*, const QString& text) {
    questions.push_back(text);
    if (duringQuestion)
        duringQuestion();
    return answerYes;
}

bool RecordingHost::offer(QWidget*, const QString& text, const QString& action) {
    offers.push_back(text);
    offers.push_back(action);
    if (duringOffer)
        duringOffer();
    return takeOffer;
}

bool RecordingHost::offerRisk(QWidget*, const QString& text, const QString& action) {
    risks.push_back(text);
    risks.push_back(action);
    return takeRisk;
}

std::optional<QString> RecordingHost::chooseFile(QWidget*, const app::FileDialogRequest& request) {
    dialogs.push_back(request);
    if (dialogAnswers.empty())
        return std::nullopt;
    const QString answer = dialogAnswers.front();
    dialogAnswers.pop_front();
    if (answer.isNull())
        return std::nullopt;
    return answer;
}

void WizardTest::SetUp() {
    ASSERT_TRUE(folder.isValid());
    store = std::make_unique<db::SettingsStore>(storePath());
    ServerTest::SetUp();
}

void WizardTest::seed() {
    sql("CREATE TABLE Customers (id int, name [nvarchar(50)], city [nvarchar(50)]);"
        "INSERT INTO Customers VALUES (1, 'Ann', 'Oslo'), (2, 'Bob', NULL), (3, 'Cy', 'Rome');"
        "CREATE TABLE Products (code [nvarchar(10)], price int);"
        "INSERT INTO Products VALUES ('A1', 10), ('B2', 20);");
}

void WizardTest::TearDown() {
    wizard.reset();
    ServerTest::TearDown();
}

QString WizardTest::storePath() const {
    return folder.filePath(QStringLiteral("Quorvane.conf"));
}

QString WizardTest::path(const char* name) const {
    return folder.filePath(QString::fromLatin1(name));
}

QByteArray WizardTest::cliExport(const QString& table) {
    const QString file = path("cli-export.xml");
    CSVXML::OutputStream out(file);
    EXPECT_TRUE(out.open());
    CSVXML::XmlFileSink sink(out);
    CSVXML::ConvertTextToXml(CSVXML::ExtractTableText(login(), {QStringLiteral("dbo"), table}), {},
                             sink);
    EXPECT_TRUE(out.commit());
    return readFile(file);
}

QByteArray WizardTest::previewFile() const {
    const std::string_view text = wizard->form3().previewText();
    return QByteArray(text.data(), qsizetype(text.size())) + "\r\n";
}

void WizardTest::storeLogin(const db::ConnectionSettings& settings) {
    store->save(settings);
}

app::Wizard& WizardTest::make() {
    wizard = std::make_unique<app::Wizard>(host, *store, kShortTimeout);
    return *wizard;
}

app::Wizard& WizardTest::start() {
    make().start();
    return *wizard;
}

void WizardTest::press(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

void WizardTest::fillIn(app::Form1& page, const db::ConnectionSettings& settings) {
    page.Text1->setText(settings.server);
    page.Text2->setText(settings.user);
    page.Text3->setText(settings.password);
    page.Text4->setText(settings.database);
}

app::Form2& WizardTest::startOnTables() {
    storeLogin(login());
    start();
    return wizard->form2();
}

void WizardTest::exportTable(const QString& table) {
    app::Form2& tables = startOnTables();
    const QList<QListWidgetItem*> found = tables.List1->findItems(table, Qt::MatchExactly);
    ASSERT_FALSE(found.isEmpty()) << table.toStdString();
    tables.List1->setCurrentItem(found.constFirst());
    press(tables.Check3);
}

QStringList strings(std::initializer_list<const char*> items) {
    QStringList list;
    for (const char* item : items)
        list << QString::fromLatin1(item);
    return list;
}

QStringList entries(const QListWidget& list) {
    QStringList names;
    for (int i = 0; i < list.count(); ++i)
        names << list.item(i)->text();
    return names;
}
