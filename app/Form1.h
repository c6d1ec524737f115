#pragma once

#include "db/ConnectionSettings.h"

#include <QWidget>

class QFrame;
class QLabel;

namespace look {
class PagePointer;
}

namespace app {

class PushCheckBox;
class SelectAllLineEdit;
class Wizard;

// The connection page: the four login boxes, the connection test, help, and the way on to the
// table page. The boxes are the only copy of the login; every database operation reads them.
class Form1 : public QWidget {
public:
    explicit Form1(Wizard& wizard);

    // Centring, the chance visit of our home page, the pointer image, the boxes from the store.
    void load();
    db::ConnectionSettings settings() const;
    look::PagePointer& pointer() { return *pointer_; }

    QLabel* Label5 = nullptr;
    QLabel* Label2 = nullptr;
    SelectAllLineEdit* Text1 = nullptr;
    QLabel* Label1 = nullptr;
    SelectAllLineEdit* Text2 = nullptr;
    QLabel* Label4 = nullptr;
    SelectAllLineEdit* Text3 = nullptr;
    QLabel* Label3 = nullptr;
    SelectAllLineEdit* Text4 = nullptr;
    PushCheckBox* Check5 = nullptr;
    PushCheckBox* Check2 = nullptr;
    QFrame* Line1 = nullptr;
    PushCheckBox* Check1 = nullptr;
    PushCheckBox* Check4 = nullptr;
    PushCheckBox* Check3 = nullptr;
    PushCheckBox* Check6 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void next();
    void testConnection();
    void help();
    void visitHomePageByChance();

    Wizard& wizard_;
    look::PagePointer* pointer_ = nullptr;
};

} // namespace app
