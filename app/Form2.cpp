#include "app/Form2.h"

#include "app/Design.h"
#include "app/Form1.h"
#include "app/Form3.h"
#include "app/Host.h"
#include "app/PushCheckBox.h"
#include "app/Wizard.h"
#include "app/look/Look.h"
#include "convert/ExtractTableText.h"
#include "db/Error.h"
#include "db/TableCatalogue.h"

#include <QCloseEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>

namespace app {

using design::twips;

namespace {

// The table list as the catalogue fills it.
class ListSink final : public db::TableListSink {
public:
    ListSink(QListWidget& list, Wizard& wizard) : list_(list), wizard_(wizard) {}

    void clear() override { list_.clear(); }
    void yield() override { wizard_.yieldIfDue(); }
    void append(const db::TableEntry& entry) override {
        auto* item = new QListWidgetItem(entry.name, &list_);
        item->setData(Form2::kSchemaRole, entry.schema);
    }

private:
    QListWidget& list_;
    Wizard& wizard_;
};

} // namespace

Form2::Form2(Wizard& wizard) : wizard_(wizard) {
    setObjectName(QStringLiteral("Form2"));
    design::setUpPage(*this, QString(), 5895, 3165, true);

    Label1 = design::label(this, QStringLiteral("Label1"),
                           QStringLiteral(" Which table would you like to convert to XML?"),
                           twips(240, 120, 5415, 255));
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(twips(120, 480, 5655, 1410));
    List1->setFont(design::arial());
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setSortingEnabled(false);
    ProgressBar1 =
        design::progressBar(this, QStringLiteral("ProgressBar1"), twips(120, 1995, 5655, 375));
    const design::ButtonRow row =
        design::buttonRow(this, 2640, {"Check1", "Check2", "Check3", "Check5"});
    Line1 = row.line;
    Check1 = row.cancel;
    Check2 = row.back;
    Check3 = row.next;
    Check5 = row.finish;
    Check5->setEnabled(false);

    setTabOrder(List1, Check1);
    setTabOrder(Check1, Check2);
    setTabOrder(Check2, Check3);
    setTabOrder(Check3, Check5);
    List1->setFocus();

    connect(Check1, &PushCheckBox::activated, this, [this] { wizard_.endProgram(); });
    connect(Check2, &PushCheckBox::activated, this,
            [this] { wizard_.runAction([this] { wizard_.move(*this, wizard_.form1()); }); });
    connect(Check3, &PushCheckBox::activated, this,
            [this] { wizard_.runAction([this] { exportTable(); }); });

    pointer_ = new look::PagePointer(*this);
    for (QWidget* control : std::initializer_list<QWidget*>{this, Label1, List1})
        pointer_->bind(control, look::Default);
    for (QWidget* button : {Check1, Check2, Check3})
        pointer_->bind(button, look::Custom);
}

void Form2::load() {
    Main::CenterOnScreen(*this);
    look::setWhiteBackground(*ProgressBar1);
    pointer_->loadCustomImage();
    setWindowTitle(QStringLiteral("Brisklet"));
    fillList();
}

void Form2::fillList() {
    pointer_->setSetting(look::Busy);
    Form3& options = wizard_.form3();
    options.setEnabled(false);
    QString failure;
    try {
        ListSink sink(*List1, wizard_);
        MSSQL::ListTables(wizard_.connectionSettings(), sink, wizard_.loginTimeout());
    } catch (const db::Error& error) {
        failure = error.message();
    }
    options.setEnabled(true);
    if (List1->count() > 0)
        List1->setCurrentRow(0);
    pointer_->setSetting(look::Default);
    if (!failure.isEmpty())
        wizard_.host().showMessage(this, failure);
}

void Form2::exportTable() {
    const QList<QListWidgetItem*> chosen = List1->selectedItems();
    if (chosen.isEmpty()) {
        wizard_.host().showMessage(this, QStringLiteral("Please select a table"));
        return;
    }
    pointer_->setSetting(look::Busy);
    wizard_.serve(); // the hourglass shows before the wait
    const db::TableEntry table{chosen.constFirst()->data(kSchemaRole).toString(),
                               chosen.constFirst()->text()};
    // The whole text first: a failure leaves the options page as it was.
    std::string text;
    try {
        text = CSVXML::ExtractTableText(
            wizard_.connectionSettings(), table, [this] { wizard_.yieldIfDue(); },
            wizard_.loginTimeout());
    } catch (const db::Error& error) {
        pointer_->setSetting(look::Default);
        wizard_.host().showMessage(this, error.message());
        return;
    }
    Form3& options = wizard_.form3();
    options.setDelimitedText(text);
    std::string().swap(text); // the options page holds it now
    options.convert(*ProgressBar1, *pointer_);
    wizard_.move(*this, options);
    pointer_->setSetting(look::Default);
}

void Form2::closeEvent(QCloseEvent* event) {
    event->ignore();
    wizard_.endProgram();
}

} // namespace app
