#pragma once

#include <QWidget>

class QFrame;
class QLabel;
class QLineEdit;

namespace look {
class PagePointer;
}

namespace app {

class PushCheckBox;
class Wizard;

// The output page: the path of the XML file, the file dialog, and "Finish", which writes the
// preview's text there and then reads "Exit".
class Form4 : public QWidget {
public:
    explicit Form4(Wizard& wizard);

    void load();
    look::PagePointer& pointer() { return *pointer_; }

    QLabel* Label1 = nullptr;
    QLineEdit* Text1 = nullptr;
    PushCheckBox* Check5 = nullptr;
    QFrame* Line1 = nullptr;
    PushCheckBox* Check9 = nullptr;
    PushCheckBox* Check8 = nullptr;
    PushCheckBox* Check7 = nullptr;
    PushCheckBox* Check6 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void browse();
    void finish();

    Wizard& wizard_;
    look::PagePointer* pointer_ = nullptr;
    QString dialogFileName_; // what the file dialog returned last; it keeps it between uses
};

} // namespace app
