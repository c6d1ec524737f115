#pragma once

#include "app/Page.h"
#include "db/ConnectionSettings.h"

class QFrame;
class QLabel;

namespace app {

class SelectAllLineEdit;

// Our own home page, which the connection page opens now and then at start-up: a build setting
// (TALLOWBY_HOME_PAGE), by default the documentation that the installation puts beside the
// programs.
inline constexpr char kHomePage[] = TALLOWBY_HOME_PAGE;

// The connection page: the four login boxes, the connection test, help, and the way on to the
// table page. The boxes are the only copy of the login; every database operation reads them.
class Form1 : public Page {
public:
    explicit Form1(Wizard& wizard);

    // Centring, the chance visit of our home page, the pointer image, the boxes from the store.
    void load();
    db::ConnectionSettings settings() const;

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

private:
    void next();
    void testConnection();
    void help();
    void visitHomePageByChance();
};

} // namespace app
