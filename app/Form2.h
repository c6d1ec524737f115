#pragma once

#include <QWidget>

class QFrame;
class QLabel;
class QListWidget;
class QProgressBar;

namespace look {
class PagePointer;
}

namespace app {

class PushCheckBox;
class Wizard;

// The table page: the database's tables, and "Next >", which exports the chosen one.
class Form2 : public QWidget {
public:
    explicit Form2(Wizard& wizard);

    // The look steps, then the table list, filled once per run with the options page disabled
    // meanwhile and its first entry selected.
    void load();
    look::PagePointer& pointer() { return *pointer_; }

    QLabel* Label1 = nullptr;
    QListWidget* List1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QFrame* Line1 = nullptr;
    PushCheckBox* Check1 = nullptr;
    PushCheckBox* Check2 = nullptr;
    PushCheckBox* Check3 = nullptr;
    PushCheckBox* Check5 = nullptr;

    // Each entry keeps its table's schema under this role, so that the export reads the table
    // that was picked also when two schemas hold one of the same name.
    static constexpr int kSchemaRole = Qt::UserRole;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void fillList();
    void exportTable();

    Wizard& wizard_;
    look::PagePointer* pointer_ = nullptr;
};

} // namespace app
