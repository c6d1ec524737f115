#pragma once

#include "app/Host.h"
#include "app/Page.h"

class QFrame;
class QLabel;
class QLineEdit;

namespace app {

// The output page: the path of the XML file, the file dialog, and "Finish", which writes the
// preview's text there and then reads "Exit".
class Form4 : public Page {
public:
    explicit Form4(Wizard& wizard);

    void load();

    // The XML went to `path` another way (saved without a preview): the page shows it as after
    // "Finish", the button reading "Exit".
    void showSaved(const QString& path);

    // What the file dialog asks for where the XML is to go, `selected` chosen at first.
    static FileDialogRequest fileRequest(const QString& selected);
    const QString& dialogFileName() const { return dialogFileName_; }
    // What the user is told when the file could not be written, and `why`.
    static QString notSavedMessage(const QString& why);

    QLabel* Label1 = nullptr;
    QLineEdit* Text1 = nullptr;
    PushCheckBox* Check5 = nullptr;
    QFrame* Line1 = nullptr;
    PushCheckBox* Check9 = nullptr;
    PushCheckBox* Check8 = nullptr;
    PushCheckBox* Check7 = nullptr;
    PushCheckBox* Check6 = nullptr;

private:
    void browse();
    void finish();

    QString dialogFileName_; // what the file dialog returned last; it keeps it between uses
};

} // namespace app
