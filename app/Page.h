#pragma once

#include "app/Design.h"

#include <QWidget>
#include <array>
#include <functional>
#include <initializer_list>

class QFrame;

namespace look {
class PagePointer;
}

namespace app {

class PushCheckBox;
class Wizard;

// What the four pages have in common: the fixed frame, the page pointer, the row of buttons at
// the foot, the look taken on load, and closing, which ends the program like "Cancel".
class Page : public QWidget {
public:
    look::PagePointer& pointer() { return *pointer_; }

protected:
    Page(Wizard& wizard, const QString& name, const QString& caption, int clientWidth,
         int clientHeight, bool minimizable);

    // The row of design::buttonRow, kept in the page's members. "Cancel" ends the program; all
    // four take the hand (one that stays disabled lets the mouse through to the page anyway).
    void buttonRow(int top, const std::array<const char*, 4>& names, QFrame*& line,
                   PushCheckBox*& cancel, PushCheckBox*& back, PushCheckBox*& next,
                   PushCheckBox*& finish);
    // Tab goes from each widget to the next in the list.
    void tabOrder(std::initializer_list<QWidget*> widgets);
    // Controls placed wholly outside the page's client area cannot be seen, so neither Tab nor
    // a click gives them the focus: typing would go where nobody sees it.
    void keepOutOfViewUnfocused();
    // A press runs `action` as a button action of the wizard: one at a time, none after the end.
    void onPress(PushCheckBox* button, std::function<void()> action);
    // Centred on the screen, with the hand read from its file.
    void loadLook();

    void closeEvent(QCloseEvent* event) override;

    Wizard& wizard_;
    look::PagePointer* pointer_ = nullptr;
};

} // namespace app
