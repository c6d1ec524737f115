#include "app/Form4.h"

#include "app/Design.h"
#include "app/Form3.h"
#include "app/Host.h"
#include "app/PushCheckBox.h"
#include "app/Wizard.h"
#include "app/look/Look.h"
#include "output/SaveTextToFile.h"

#include <QLabel>
#include <QLineEdit>

namespace app {

using design::twips;

namespace {

const QString kExit = QStringLiteral("Exit");

class AskHost final : public CSVXML::OverwriteQuestion {
public:
    AskHost(Host& host, QWidget* parent) : host_(host), parent_(parent) {}
    bool confirm(const QString& message) override { return host_.askYesNo(parent_, message); }

private:
    Host& host_;
    QWidget* parent_;
};

} // namespace

Form4::Form4(Wizard& wizard)
    : Page(wizard, QStringLiteral("Form4"), QStringLiteral("Brisklet"), 5895, 1605, false) {
    Label1 = design::label(this, QStringLiteral("Label1"),
                           QStringLiteral(" Where would you like to save XML file?"),
                           twips(240, 120, 4575, 255));
    Text1 = design::textBox<QLineEdit>(this, QStringLiteral("Text1"), QStringLiteral("Text1"),
                                       twips(120, 480, 5175, 285), 9.75);
    Check5 = design::button(this, QStringLiteral("Check5"), QStringLiteral("..."),
                            twips(5400, 480, 325, 330));
    buttonRow(1080, {"Check9", "Check8", "Check7", "Check6"}, Line1, Check9, Check8, Check7,
              Check6);
    Check7->setEnabled(false);
    Label1->setBuddy(Text1);

    tabOrder({Check9, Check8, Check6, Text1, Check5, Check7});
    Check9->setFocus();

    onPress(Check8, [this] { wizard_.move(*this, wizard_.form3()); });
    onPress(Check5, [this] { browse(); });
    onPress(Check6, [this] { finish(); });

    pointer_->bind(Check5, look::Custom);
    pointer_->keepOwnPointer(Text1);
}

void Form4::load() {
    loadLook();
    Text1->clear();
}

FileDialogRequest Form4::fileRequest(const QString& selected) {
    return {QStringLiteral("XML Output File"),
            {QStringLiteral("XML Files (*.xml)"),
             QStringLiteral("All Files (*)")}, // "*.*" hides names without a dot
            selected};
}

QString Form4::notSavedMessage(const QString& why) {
    return QStringLiteral("The XML file was not saved: %1").arg(why);
}

void Form4::showSaved(const QString& path) {
    dialogFileName_ = path;
    Text1->setText(path);
    Check6->setText(kExit);
}

void Form4::browse() {
    // A cancelled dialog gives back the name it returned before.
    if (const std::optional<QString> chosen =
            wizard_.host().chooseFile(this, fileRequest(dialogFileName_)))
        dialogFileName_ = *chosen;
    Text1->setText(dialogFileName_);
}

void Form4::finish() {
    if (Check6->text() == kExit) {
        wizard_.endProgram();
        return;
    }
    const QString path = Text1->text();
    if (path.isEmpty())
        return;
    pointer_->setSetting(look::Busy);
    wizard_.serve(); // the hourglass shows before the wait
    AskHost question(wizard_.host(), this);
    // The preview's buffer is taken after the overwrite question, which runs an event loop of
    // its own.
    const CSVXML::SaveResult result =
        CSVXML::SaveTextToFile([this] { return wizard_.form3().previewText(); }, path, question);
    pointer_->setSetting(look::Default);
    if (result.status == CSVXML::SaveResult::Status::Failed) {
        // The caption stays "Finish": the user can correct the path and press again.
        wizard_.host().showMessage(this, notSavedMessage(result.error));
        return;
    }
    Check6->setText(kExit);
}

} // namespace app
