#include "app/Form2.h"

#include "app/Design.h"
#include "app/Form1.h"
#include "app/Form3.h"
#include "app/Host.h"
#include "app/PushCheckBox.h"
#include "app/TablePreview.h"
#include "app/Wizard.h"
#include "app/look/Look.h"
#include "convert/ExtractTableText.h"
#include "db/Error.h"
#include "db/TableCatalogue.h"

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <memory>
#include <vector>

namespace app {

using design::twips;

namespace {

// The table list as the catalogue fills it.
class ListSink final : public db::TableListSink {
public:
    explicit ListSink(QListWidget& list) : list_(list) {}

    void clear() override { list_.clear(); }
    void append(const db::TableEntry& entry) override {
        auto* item = new QListWidgetItem(entry.name, &list_);
        item->setData(Form2::kSchemaRole, entry.schema);
        item->setData(Form2::kNameRole, entry.name);
    }

private:
    QListWidget& list_;
};

// The listing as the database thread makes it, for the list to take in the window's thread.
class Listing final : public db::TableListSink {
public:
    void clear() override {
        opened = true;
        entries.clear();
    }
    void append(const db::TableEntry& entry) override { entries.push_back(entry); }

    bool opened = false; // the catalogue was open, so the list is filled anew
    std::vector<db::TableEntry> entries;
};

// The entries are shown as the catalogue's rule shows them, with the schema of a repeated name.
void showSchemaOfRepeatedNames(QListWidget& list) {
    std::vector<db::TableEntry> entries;
    entries.reserve(std::size_t(list.count()));
    for (int i = 0; i < list.count(); ++i) {
        const QListWidgetItem& item = *list.item(i);
        entries.push_back(
            {item.data(Form2::kSchemaRole).toString(), item.data(Form2::kNameRole).toString()});
    }
    const QStringList shown = db::shownNames(entries);
    for (int i = 0; i < list.count(); ++i)
        list.item(i)->setText(shown[i]);
}

} // namespace

Form2::Form2(Wizard& wizard)
    : Page(wizard, QStringLiteral("Form2"), QStringLiteral("Brisklet"), 5895, 3165, true) {
    Label1 = design::label(this, QStringLiteral("Label1"),
                           QStringLiteral(" Which table would you like to convert to XML?"),
                           twips(240, 120, 5415, 255));
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(twips(120, 480, 5655, 1410));
    List1->setFont(design::arial());
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setSortingEnabled(false);
    List1->setAccessibleName(QStringLiteral("Tables"));
    ProgressBar1 =
        design::progressBar(this, QStringLiteral("ProgressBar1"), twips(120, 1995, 5655, 375));
    ProgressBar1->setAccessibleName(QStringLiteral("Progress"));
    buttonRow(2640, {"Check1", "Check2", "Check3", "Check5"}, Line1, Check1, Check2, Check3,
              Check5);
    Check5->setEnabled(false);

    tabOrder({List1, Check1, Check2, Check3, Check5});
    List1->setFocus();

    onPress(Check2, [this] { wizard_.move(*this, wizard_.form1()); });
    onPress(Check3, [this] { exportTable(); });

    for (QWidget* control : std::initializer_list<QWidget*>{this, Label1, List1})
        pointer_->bind(control, look::Default);
}

void Form2::load() {
    loadLook();
    look::setWhiteBackground(*ProgressBar1);
    fillList();
}

void Form2::fillList() {
    pointer_->setSetting(look::Busy);
    Form3& options = wizard_.form3();
    options.setEnabled(false);
    QString failure;
    auto listing = std::make_shared<Listing>();
    try {
        wizard_.runDatabaseWork([listing, login = wizard_.connectionSettings(),
                                 timeout = wizard_.loginTimeout()](db::Progress& progress) {
            MSSQL::ListTables(login, *listing, progress, timeout);
        });
    } catch (const db::Error& error) {
        failure = error.message();
    }
    if (listing->opened) {
        ListSink sink(*List1);
        sink.clear();
        for (const db::TableEntry& entry : listing->entries) {
            wizard_.yieldIfDue(); // a catalogue of thousands of tables takes a while to show
            sink.append(entry);
        }
    }
    showSchemaOfRepeatedNames(*List1);
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
    const struct Idle {
        look::PagePointer& pointer;
        ~Idle() { pointer.setSetting(look::Default); }
    } idle{*pointer_};
    const db::TableEntry table{chosen.constFirst()->data(kSchemaRole).toString(),
                               chosen.constFirst()->data(kNameRole).toString()};
    Form3& options = wizard_.form3();
    TablePreview preview(wizard_, *this, *ProgressBar1);
    if (!preview.run(table, options.options()))
        return;
    wizard_.move(*this, options);
    pointer_->setSetting(look::Default);
    if (preview.extracted().loneSurrogates > 0)
        wizard_.host().showMessage(&options, CSVXML::loneSurrogatesMessage(preview.extracted()));
}

} // namespace app
