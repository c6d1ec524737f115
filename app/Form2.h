#pragma once

#include "app/Page.h"

class QFrame;
class QLabel;
class QListWidget;
class QProgressBar;

namespace app {

// The table page: the database's tables, and "Next >", which exports the chosen one. It lists
// and reads a table on a thread of the wizard's, so the window system is served meanwhile.
class Form2 : public Page {
public:
    explicit Form2(Wizard& wizard);

    // The look steps, then the table list, filled once per run with the options page disabled
    // meanwhile and its first entry selected.
    void load();

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
    // The table's own name; the entry shows "schema.name" when the list holds the name twice.
    static constexpr int kNameRole = Qt::UserRole + 1;

private:
    void fillList();
    void exportTable();
};

} // namespace app
